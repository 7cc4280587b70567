// Measures hub commands and a firmware update through a real ser2net on
// loopback in front of a virtual hub that paces its replies at the line
// speed, and compares each with the wire time of the bytes the hub exchanged.
// A ratio near 1.0 means the network path adds almost nothing to what the
// serial line itself needs; the same commands on the hub's own pty give the
// local figure to compare with.
//
// Each network row names the ser2net variant: the plain accepter as the rig
// writes it, "nd" with tcp(nodelay) in the accepter (no Nagle on ser2net's
// side), "nd,nc" also with the option chardelay: false (ser2net passes bytes
// on as they come instead of gathering them).
//
// Runs of a command are 20 ms apart, untimed: ser2net takes a client only
// after it has closed the last one's device, which gensio does 10 ms after
// that client left. A script calling hubctl back to back pays part of that;
// --back-to-back measures it so.
//
// Usage: remote_bench [--back-to-back] [runs [updates]]
//        (default 20 runs per command, 2 updates per variant)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_stats.h"
#include "firmware/update_flow.h"
#include "process.h"
#include "ser2net_rig.h"
#include "sim/virtual_hub.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double kBitsPerByte = 10.0;  // start + 8 data + stop
constexpr double kHubBaud = 9600.0;
constexpr double kLoaderBaud = 115200.0;
constexpr auto kErase = 400ms;
constexpr double kGoal = 1.15;
constexpr auto kRunGap = 20ms;  // between runs of a command, see above

bool backToBack = false;

struct Case {
    const char* name;
    std::vector<std::string> args;  // after the program name; "{port}" is replaced
};

using bench::median;

double millisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double wireMillis(std::size_t bytes, double baud) { return double(bytes) * kBitsPerByte / baud * 1000.0; }

// One ser2net export on loopback, as the rig writes it with these options.
struct Variant {
    const char* name;
    testsupport::Ser2netAccepter accepter;
    bool nodelay;
    bool chardelay;
};

using testsupport::Ser2netAccepter;
const Variant kRfc2217{"rfc2217", Ser2netAccepter::rfc2217, false, true};
const Variant kRfc2217Nodelay{"rfc2217 nd", Ser2netAccepter::rfc2217, true, true};
const Variant kRfc2217Direct{"rfc2217 nd,nc", Ser2netAccepter::rfc2217, true, false};
const Variant kTcp{"tcp", Ser2netAccepter::raw, false, true};
const Variant kTcpDirect{"tcp nd,nc", Ser2netAccepter::raw, true, false};

std::vector<testsupport::Ser2netExport> exportOf(const std::string& device, const Variant& v) {
    return {{device, v.accepter, 9600, v.nodelay, v.chardelay}};
}

std::vector<std::string> commandLine(const Case& c, const std::string& port) {
    std::vector<std::string> argv{HUBCTL_PATH};
    for (auto arg : c.args) {
        if (const auto at = arg.find("{port}"); at != std::string::npos) arg.replace(at, 6, port);
        argv.push_back(arg);
    }
    return argv;
}

void printRow(const char* path, const char* what, int runs, std::size_t bytes, double wire, double med) {
    std::printf("%-14s %-11s %5d %8zu %11.2f %11.2f %6.3f  %s\n", path, what, runs, bytes, wire, med, med / wire,
                med / wire <= kGoal ? "ok" : "MISSED");
}

// Without a variant: the hub's own pty.
bool commandCase(const Case& c, const Variant* variant, int runs) {
    sim::HubConfig config;
    config.wireTiming = true;
    sim::VirtualHub hub(config);
    std::unique_ptr<testsupport::Ser2netRig> server;
    if (variant != nullptr)
        server = std::make_unique<testsupport::Ser2netRig>(exportOf(hub.path(), *variant));
    const char* via = variant != nullptr ? variant->name : "local";
    const std::string port = server ? server->url(0) : hub.path();
    std::vector<double> wall;
    std::size_t bytes = 0;
    for (int i = 0; i < runs; ++i) {
        if (!backToBack) std::this_thread::sleep_for(kRunGap);
        const std::size_t before = hub.bytesExchanged();
        const auto start = Clock::now();
        const auto result = testsupport::runProcess(commandLine(c, port));
        wall.push_back(millisSince(start));
        if (result.exitStatus != 0) {
            std::fprintf(stderr, "%s via %s failed (exit %d): %s%s\n", c.name, via, result.exitStatus,
                         result.out.c_str(), result.err.c_str());
            return false;
        }
        bytes = hub.bytesExchanged() - before;
    }
    printRow(via, c.name, runs, bytes, wireMillis(bytes, kHubBaud), median(wall));
    return true;
}

bool updateCase(std::size_t length, const Variant& variant, int runs) {
    firmware::Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = std::uint8_t(i * 31 + 7);  // 0xFF included
    const firmware::ApromImage image = firmware::makeImage(bytes);
    std::vector<double> wall;
    std::size_t exchanged = 0;
    double wire = 0;
    for (int i = 0; i < runs; ++i) {
        sim::HubConfig config;
        config.wireTiming = true;
        config.eraseTime = kErase;
        config.record = true;
        sim::VirtualHub hub(config);
        hub.enterLoader();  // the sequence alone, as firmware_bench measures it
        const testsupport::Ser2netRig server(exportOf(hub.path(), variant));
        firmware::UpdateOptions options;
        options.hubInLoader = true;
        const auto start = Clock::now();
        const auto outcome = firmware::runUpdate(server.url(0), "", image, options);
        wall.push_back(millisSince(start));
        if (!outcome.ok() || hub.flashImage() != bytes) {
            std::fprintf(stderr, "update of %zu bytes failed: %s\n", length, outcome.detail.c_str());
            return false;
        }
        // Every packet but the run packet gets a 64-byte reply.
        exchanged = hub.loaderPackets().size() * 128 - 64;
        wire = wireMillis(exchanged, kLoaderBaud) + double(kErase.count());
    }
    printRow(variant.name, "update 64K", runs, exchanged, wire, median(wall));
    return true;
}

}  // namespace

int main(int argc, char** argv) try {
    if (argc > 1 && std::string(argv[1]) == "--back-to-back") {
        backToBack = true;
        --argc;
        ++argv;
    }
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const std::vector<Case> cases = {
        {"/S 1:1", {"/S:{port}", "1:1"}},
        {"/G", {"/G:{port}"}},
        {"/Q", {"/Q:{port}"}},
    };
    std::printf("%-14s %-11s %5s %8s %11s %11s %6s  goal <= %.2f\n", "path", "command", "runs", "bytes",
                "wire ms", "median ms", "ratio", kGoal);
    bool ok = true;
    for (const auto& c : cases) {
        ok = commandCase(c, nullptr, runs) && ok;
        for (const Variant* v : {&kRfc2217, &kRfc2217Nodelay, &kRfc2217Direct, &kTcp, &kTcpDirect})
            ok = commandCase(c, v, runs) && ok;
    }
    const int updates = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2;
    for (const Variant* v : {&kRfc2217, &kRfc2217Nodelay, &kRfc2217Direct})
        ok = updateCase(64 * 1024, *v, updates) && ok;
    return ok ? 0 : 1;
} catch (const std::exception& e) {
    std::fprintf(stderr, "remote_bench: %s\n", e.what());
    return 1;
}
