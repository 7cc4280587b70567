// Searches that ask their ports together: the same results, in the same
// order, as asking one after another; never one device twice at once.
#include "hublink/port_fanout.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "hub_test_util.h"
#include "search/fanout_width.h"
#include "hublink/discovery.h"
#include "hublink/hub_query.h"
#include "sim/fake_registry.h"

namespace hublink {
namespace {

using Paths = std::vector<std::string>;
using namespace std::chrono_literals;

std::string freshRoot() {
    static int made = 0;
    return (std::filesystem::temp_directory_path() /
            ("hublink-fanout-" + std::to_string(::getpid()) + "-" + std::to_string(++made)))
        .string();
}

Paths portsOf(const std::vector<HubInfo>& records, const char* field) {
    Paths out;
    for (const HubInfo& r : records) out.push_back(r.at(field));
    return out;
}

TEST(ForEachPort, BoundedThreadsAndErrorsComeBack) {
    Paths ports;
    for (int i = 0; i < 40; ++i) ports.push_back("/nonexistent/port" + std::to_string(i));
    std::atomic<int> running{0}, most{0};
    std::vector<int> done(ports.size(), 0);
    forEachPort(ports, [&](std::size_t i) {
        const int now = ++running;
        for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
        }
        std::this_thread::sleep_for(2ms);
        ++done[i];
        --running;
    }, 4);
    EXPECT_LE(most.load(), 4);
    EXPECT_GT(most.load(), 1);
    EXPECT_EQ(done, std::vector<int>(ports.size(), 1));

    EXPECT_THROW(forEachPort(ports, [](std::size_t i) {
        if (i == 7) throw std::runtime_error("port 7");
    }), std::runtime_error);
}

// How many are asked at once, and the line that says so when not all.
TEST(FanoutWidth, TightestBoundNamesTheReason) {
    struct Case {
        FanoutNeeds needs;  // candidates, connections, descriptor limit, helpers, in flight
        std::size_t width;
        const char* notice;
    };
    const std::vector<Case> cases = {
        {{1024, false, 1088, 1023, 1024}, 1024, ""},  // a farm: one descriptor each
        {{1024, false, 20000, 1023, 256}, 256,
         "asking 256 of 1024 ports at a time (no search asks more at once): the search can take 4 timeouts"},
        {{40, false, 80, 39, 1024}, 16,
         "asking 16 of 40 ports at a time (the limit of 80 open descriptors allows no more): "
         "the search can take 3 timeouts"},
        {{256, true, 20000, 255, 1024}, 256, ""},
        {{1024, true, 20000, 1023, 1024}, 320,
         "asking 320 of 1024 ports at a time (network connections need descriptors numbered below 1024, "
         "3 each): the search can take 4 timeouts"},
        {{200, true, 364, 199, 1024}, 100,
         "asking 100 of 200 ports at a time (the limit of 364 open descriptors allows no more): "
         "the search can take 2 timeouts"},
        {{100, false, 20000, 9, 1024}, 10,
         "asking 10 of 100 ports at a time (no more threads could be started): the search can take 10 timeouts"},
        {{5, false, 10, 4, 1024}, 1,  // no room at all: the caller alone, one at a time
         "asking 1 of 5 ports at a time (the limit of 10 open descriptors allows no more): "
         "the search can take 5 timeouts"},
        {{0, true, 10, 0, 1024}, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.notice);
        const FanoutWidth width = fanoutWidth(c.needs);
        EXPECT_EQ(width.width, c.width);
        EXPECT_EQ(fanoutNotice(c.needs, width), c.notice);
    }
}

// Two names for one device: asked one after the other, in name order.
TEST(ForEachPort, OneDeviceNeverTwiceAtOnce) {
    sim::VirtualHub hub({.record = true});
    sim::FakeRegistry reg(freshRoot());
    const std::string a = reg.add("ttyUSB0", hub.path());
    const std::string b = reg.add("ttyUSB1", hub.path());
    std::atomic<int> inside{0};
    bool overlapped = false;
    std::vector<std::size_t> order;
    forEachPort({a, hub.path(), b}, [&](std::size_t i) {
        overlapped = overlapped || ++inside > 1;
        order.push_back(i);
        std::this_thread::sleep_for(5ms);
        --inside;
    });
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(order, (std::vector<std::size_t>{0, 1, 2}));

    const auto hubs = searchHubs({a, b});
    EXPECT_EQ(portsOf(hubs, "Port_Name"), (Paths{a, b}));
    EXPECT_EQ(hub.received(), (Paths{"?Q\r", "E?Q2\r", "GP\r", "?Q\r", "E?Q2\r", "GP\r"}));
}

// Hubs among ports that are no hubs, vanish, cannot be opened or answer
// slowly: the hubs, in candidate order, whatever answered first.
TEST(ParallelSearch, KeepsCandidateOrderWhateverAnswersFirst) {
    sim::VirtualHub slow({.uid = "SLOWSLOWSLOW"}), quick({.uid = "QUICKQUICK00", .record = true}),
        silent, vanishing, window({.uid = "WINDOWWINDOW"});
    slow.pushFault(hubtest::fault(hubtest::Kind::Delay, 400));
    silent.setPersistentFault(hubtest::fault(hubtest::Kind::Silent));
    vanishing.pushFault(hubtest::fault(hubtest::Kind::Vanish));
    const Paths candidates = {slow.path(), silent.path(), "/nonexistent/ttyUSB9", vanishing.path(),
                              quick.path()};
    const long before = hubtest::openDescriptorCount();
    EXPECT_EQ(portsOf(searchHubs(candidates), "Port_Name"), (Paths{slow.path(), quick.path()}));
    slow.pushFault(hubtest::fault(hubtest::Kind::Delay, 400));
    EXPECT_EQ(portsOf(searchHubsWindow({slow.path(), silent.path(), window.path()}), "ControlPort"),
              (Paths{slow.path(), window.path()}));
    // Nothing left open but for the two the vanished hub closed itself.
    EXPECT_EQ(hubtest::openDescriptorCount(), before - 2);
    // Each hub got exactly one query's lines.
    EXPECT_EQ(quick.received(), (Paths{"?Q\r", "E?Q2\r", "GP\r"}));
}

TEST(ParallelSearch, FirstUidMatchInOrderWinsOverAQuickerOne) {
    sim::VirtualHub late({.uid = "0123456789AB"}), early({.uid = "0123456789AB"}),
        other({.uid = "FFFFFFFFFFFF"});
    late.pushFault(hubtest::fault(hubtest::Kind::Delay, 300));
    sim::FakeRegistry reg(freshRoot());
    reg.add("ttyUSB0", other.path());
    const std::string first = reg.add("ttyUSB1", late.path());
    reg.add("ttyUSB2", early.path());
    EXPECT_EQ(findCOMPortFromUID("0123456789AB", SysfsRegistry(reg.sysRoot(), reg.devDir())), first);
}

}  // namespace
}  // namespace hublink
