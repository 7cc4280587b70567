// Searches under an address-space limit too small for a thread per port:
// every hub is still found, and nothing aborts.
#include <gtest/gtest.h>

#include <chrono>

#include "hub_harness.h"
#include "process.h"

namespace hubtest {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

constexpr int kHubs = 40;

testsupport::ProcessResult limitedHubctl(const std::string& limit, const Lines& args, const Registry& registry) {
    Lines argv{"/bin/sh", "-c", limit + " && exec \"$0\" \"$@\"", HUBCTL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::runProcess(argv, {"HUBLINK_REGISTRY_ROOT=" + registry.root()});
}

TEST(ThreadLimit, SearchesFindEveryHubWithoutAborting) {
    if (kSanitized) GTEST_SKIP() << "the sanitizers need more address space than the limit leaves";
    Registry registry;
    std::vector<std::unique_ptr<sim::VirtualHub>> hubs;
    for (int i = 0; i < kHubs; ++i) {
        sim::HubConfig config;
        config.uid = "UIDTEST" + std::to_string(10000 + i);
        hubs.push_back(std::make_unique<sim::VirtualHub>(config));
        registry.add("ttyUSB" + std::to_string(i), hubs.back()->path());
    }
    const std::string lastUid = "UIDUIDTEST" + std::to_string(10000 + kHubs - 1);
    // A hard limit of 80 descriptors leaves room for 16 ports at once: the
    // search says so and still finds every hub.
    const std::string narrowed =
        "hubctl: asking 16 of 40 ports at a time (the limit of 80 open descriptors allows no more): "
        "the search can take 3 timeouts\n";
    // Under the address-space limit, threads that cannot start are told of
    // in one line naming how many ports are asked at a time.
    const std::string threads = "(no more threads could be started)";
    struct Case {
        std::string limit;
        Lines args;
        std::string expected;  // a piece of standard output
        std::string err;       // exactly, or the threads line when it is `threads`
    };
    const std::vector<Case> cases = {
        {"ulimit -v 400000", {"/Q"}, std::to_string(kHubs) + " Managed USB Hub(s) Found.", threads},
        {"ulimit -v 400000", {"/J", R"({"CMD":"Q"})"}, "\"RES\"", threads},
        {"ulimit -v 400000", {"/G:" + lastUid}, "", threads},
        {"ulimit -n 80", {"/Q"}, std::to_string(kHubs) + " Managed USB Hub(s) Found.", narrowed},
        {"ulimit -n 80", {"/G:" + lastUid}, "", narrowed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limit + " " + c.args.front());
        const testsupport::ProcessResult r = limitedHubctl(c.limit, c.args, registry);
        EXPECT_EQ(r.signal, 0) << r.err;
        EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
        EXPECT_NE(r.out.find(c.expected), std::string::npos) << r.out;
        const bool toldThreads = r.err.starts_with("hubctl: asking ") && r.err.find(threads) != std::string::npos &&
                                 r.err.find('\n') == r.err.size() - 1;
        if (c.err == threads) {
            EXPECT_TRUE(r.err.empty() || toldThreads) << r.err;
        } else {
            EXPECT_EQ(r.err, c.err);
        }
    }
}

// A farm's host: more candidates than the soft limit on open descriptors
// allows at once. The search raises the limit and finds the hubs at the end.
TEST(ThreadLimit, MoreCandidatesThanTheSoftDescriptorLimit) {
    constexpr int kSilent = 192;
    constexpr int kFound = 8;
    Registry registry;
    std::vector<std::unique_ptr<sim::VirtualHub>> devices;
    for (int i = 0; i < kSilent + kFound; ++i) {
        devices.push_back(std::make_unique<sim::VirtualHub>());
        if (i < kSilent) devices.back()->setPersistentFault({sim::Fault::Kind::Silent, 0, 0, {}});
        registry.add("ttyUSB" + std::to_string(i), devices.back()->path());
    }
    const Lines argv{"/bin/sh", "-c", "ulimit -Sn 96 && exec \"$0\" \"$@\"", HUBCTL_PATH, "/Q"};
    const auto start = std::chrono::steady_clock::now();
    const testsupport::ProcessResult r =
        testsupport::runProcess(argv, {"HUBLINK_REGISTRY_ROOT=" + registry.root()}, std::chrono::seconds(20));
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find(std::to_string(kFound) + " Managed USB Hub(s) Found."), std::string::npos) << r.out;
    // Every candidate waited at the same time: one timeout, not one per batch.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1800));
}

}  // namespace
}  // namespace hubtest
