// Measures hub searches over a device registry of 8 candidates, 2 hubs paced
// at 9600 baud and 6 ports that never answer, as a ratio to the timeout one
// silent port costs the front end (hubctl 1.0 s, hubpanel 0.5 s, portdesk
// 2.1 s). Asked one after another the ratio would be about 6; asked
// together it is about 1.
//
// Then a device farm's host: 1, 32 and 64 hubs, and 64 hubs beside 64 and
// 192 silent ports, `hubctl /Q` against one hub's query or one timeout.
//
// Usage: search_bench [runs]   (default 5)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench_stats.h"
#include "hublink/discovery.h"
#include "hublink/hub_query.h"
#include "hublink/port_fanout.h"
#include "process.h"
#include "sim/fake_registry.h"
#include "sim/virtual_hub.h"

namespace {

using Clock = std::chrono::steady_clock;

using bench::median;

struct Bench {
    std::vector<std::unique_ptr<sim::VirtualHub>> hubs;
    std::unique_ptr<sim::FakeRegistry> registry;
    std::vector<std::string> candidates;

    Bench() {
        const auto root = std::filesystem::temp_directory_path() /
                          ("search-bench-" + std::to_string(::getpid()));
        registry = std::make_unique<sim::FakeRegistry>(root.string());
        for (int k = 0; k < 8; ++k) {
            sim::HubConfig config;
            config.wireTiming = true;
            config.uid = "BENCH000000" + std::to_string(k);
            hubs.push_back(std::make_unique<sim::VirtualHub>(config));
            // Hubs at positions 2 and 6; the others stay silent.
            if (k != 2 && k != 6) hubs.back()->setPersistentFault({sim::Fault::Kind::Silent, 0, 0, {}});
            candidates.push_back(registry->add("ttyUSB" + std::to_string(k), hubs.back()->path()));
        }
    }
};

struct Case {
    const char* name;
    double silentMillis;
    std::function<bool()> run;  // false when the search found the wrong hubs
};

bool runCase(const Case& c, int runs) {
    std::vector<double> wall;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        const bool ok = c.run();
        wall.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (!ok) {
            std::fprintf(stderr, "%s: wrong result\n", c.name);
            return false;
        }
    }
    const double med = median(wall);
    std::printf("%-26s runs=%2d silent port=%6.0f ms median=%7.1f ms ratio=%5.2f\n", c.name, runs,
                c.silentMillis, med, med / c.silentMillis);
    return true;
}

// hubctl with `args` against the bench's registry; true when it printed `expect`.
std::function<bool()> hubctl(const Bench& bench, std::vector<std::string> args, std::string expect) {
    args.insert(args.begin(), HUBCTL_PATH);
    return [&bench, args, expect] {
        const auto r = testsupport::runProcess(args, {"HUBLINK_REGISTRY_ROOT=" + bench.registry->root()});
        return r.exitStatus == 0 && r.out.find(expect) != std::string::npos;
    };
}

// A device farm's host: `hubs` hubs paced at 9600 baud and `silent` ports
// that never answer, all in one registry.
struct Farm {
    std::vector<std::unique_ptr<sim::VirtualHub>> devices;
    std::unique_ptr<sim::FakeRegistry> registry;

    Farm(int hubs, int silent) {
        static int made = 0;
        const auto root = std::filesystem::temp_directory_path() /
                          ("search-farm-" + std::to_string(::getpid()) + "-" + std::to_string(++made));
        registry = std::make_unique<sim::FakeRegistry>(root.string());
        for (int k = 0; k < hubs + silent; ++k) {
            sim::HubConfig config;
            config.wireTiming = true;
            devices.push_back(std::make_unique<sim::VirtualHub>(config));
            if (k >= hubs) devices.back()->setPersistentFault({sim::Fault::Kind::Silent, 0, 0, {}});
            registry->add("ttyUSB" + std::to_string(k), devices.back()->path());
        }
    }
};

// Median wall time of `hubctl /Q` over the farm, in ms; negative when it
// did not list exactly the farm's hubs.
double farmSearch(const Farm& farm, int hubs, int runs) {
    const std::string found = std::to_string(hubs) + " Managed USB Hub(s) Found.";
    std::vector<double> wall;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        const auto r = testsupport::runProcess({HUBCTL_PATH, "/Q"}, {"HUBLINK_REGISTRY_ROOT=" + farm.registry->root()});
        wall.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (r.exitStatus != 0 || r.out.find(found) == std::string::npos) return -1;
    }
    return median(wall);
}

// Searches that should not grow with the number of ports: hubs only against
// one hub's query, hubs and silent ports against one timeout.
bool farmCases(int runs) {
    const double oneHub = farmSearch(Farm(1, 0), 1, runs);
    std::printf("%-26s runs=%2d median=%7.1f ms\n", "hubctl /Q, 1 hub", runs, oneHub);
    const struct {
        int hubs, silent;
    } sizes[] = {{32, 0}, {64, 0}, {64, 64}, {64, 192}};
    for (const auto& size : sizes) {
        const double ms = farmSearch(Farm(size.hubs, size.silent), size.hubs, runs);
        if (ms < 0) {
            std::fprintf(stderr, "farm of %d hubs, %d silent: wrong result\n", size.hubs, size.silent);
            return false;
        }
        const bool silent = size.silent > 0;
        std::printf("hubctl /Q, %3d hubs + %3d silent runs=%2d median=%7.1f ms ratio=%5.2f (to %s)\n", size.hubs,
                    size.silent, runs, ms, ms / (silent ? 1000.0 : oneHub), silent ? "one timeout" : "one hub");
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) try {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    Bench bench;
    const std::string hub6 = bench.candidates[6];
    const std::vector<Case> cases = {
        {"hubctl /Q", 1000, hubctl(bench, {"/Q"}, hub6)},
        {"hubctl /Q -F", 1000, hubctl(bench, {"/Q", "-F"}, "0002," + bench.candidates[2])},
        {"hubctl /Q:UID (lookup)", 1000, hubctl(bench, {"/Q:UIDBENCH0000006"}, hub6)},
        {"hubctl /J Q", 1000, hubctl(bench, {"/J", R"({"CMD":"Q"})"}, "BENCH0000002")},
        {"hubpanel search", 500,
         [&] { return hublink::searchHubsWindow(bench.candidates).size() == 2; }},
        {"portdesk search", 2100,
         [&] {
             std::size_t found = 0;
             for (const auto& records : hublink::askEachPort<std::vector<hublink::HubInfo>>(
                      bench.candidates, hublink::QueryHubsDesk))
                 found += records.size();
             return found == 2;
         }},
    };
    bool ok = true;
    for (const Case& c : cases) ok = runCase(c, runs) && ok;
    return farmCases(runs) && ok ? 0 : 1;
} catch (const std::exception& e) {
    std::fprintf(stderr, "search_bench: %s\n", e.what());
    return 1;
}
