// hubctl started with standard output or error closed (as by a service
// manager or `>&-`): its messages must not take the hub's descriptor.
#include <gtest/gtest.h>

#include "hub_harness.h"
#include "hublink/exchange.h"
#include "process.h"

namespace {

using hubtest::Lines;

TEST(ClosedStreams, MessagesNeverReachTheHub) {
    const struct {
        std::vector<int> closed;
        Lines args;  // "@hub" stands for the hub's path
    } cases[] = {
        {{1}, {"/S:@hub"}},         // "State Format Error!"
        {{1}, {"/S:@hub", "1:9"}},  // "Invalid Port Number!"
        {{1, 2}, {"/S:@hub"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args) + " without " + testing::PrintToString(c.closed));
        sim::VirtualHub hub;
        Lines argv{HUBCTL_PATH};
        for (const auto& a : c.args) argv.push_back(a == "/S:@hub" ? "/S:" + hub.path() : a);
        testsupport::ProcessOptions options;
        options.closed = c.closed;
        EXPECT_EQ(testsupport::runProcess(argv, options).exitStatus, 1);
        // A message written into the port would wait in the hub's line and
        // spoil the next command.
        const hublink::Exchange next = hublink::sendCommand(hub.path(), "?Q\r");
        EXPECT_EQ(next.reply.substr(0, 10), "TAVRIN0AB3") << next.reply;
    }
}

}  // namespace
