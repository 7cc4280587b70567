// Measures hub searches over a device registry of 8 candidates, 2 hubs paced
// at 9600 baud and 6 ports that never answer, as a ratio to the timeout one
// silent port costs the front end (hubctl 1.0 s, hubpanel 0.5 s, portdesk
// 2.1 s). Asked one after another the ratio would be about 6; asked
// together it is about 1.
//
// Then a device farm's host: 1, 32 and 64 hubs, and 64 hubs beside 64 and
// 192 silent ports, `hubctl /Q` against one hub's query or one timeout, with
// the CPU time hubctl spends (its own, from its resource usage) and the CPU
// time the virtual hubs spend (this process's), per search. The two share
// the machine's cores, so the second slows the first down too.
//
// Then a lab: `hubctl /Q` over 256 and 1,024 endpoints of a real ser2net on
// loopback, 8 in front of paced hubs and the rest in front of ptys where
// nothing answers, against one timeout; with hubctl's peak of descriptors,
// threads and resident memory, sampled in one more, untimed run.
//
// Usage: search_bench [--lab] [runs]   (default 5; --lab: the lab alone)

#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench_stats.h"
#include "hublink/discovery.h"
#include "hublink/hub_query.h"
#include "hublink/port_fanout.h"
#include "process.h"
#include "ser2net_rig.h"
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

// CPU seconds (user and system) of this process, and of its children that
// have been waited for.
struct CpuTimes {
    double own = 0, children = 0;
};

double seconds(const rusage& usage) {
    const auto part = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return part(usage.ru_utime) + part(usage.ru_stime);
}

CpuTimes cpuNow() {
    rusage own{}, children{};
    getrusage(RUSAGE_SELF, &own);
    getrusage(RUSAGE_CHILDREN, &children);
    return {seconds(own), seconds(children)};
}

struct SearchFigures {
    double medianMs = -1;   // negative: a run found the wrong hubs
    double clientCpuMs = 0;  // hubctl's, per search
    double hubsCpuMs = 0;    // this process's (the virtual hubs'), per search
    std::string notice;      // hubctl's line when it asked fewer at a time
};

// `hubctl /Q` with `env`, `runs` times; every run must print `found` and
// nothing else on standard error than the line saying how many it asks at
// a time. `gap` is left between runs, untimed.
SearchFigures timedSearches(const std::vector<std::string>& env, const std::string& found, int runs,
                            std::chrono::milliseconds gap = {}) {
    SearchFigures figures;
    std::vector<double> wall;
    const CpuTimes before = cpuNow();
    for (int i = 0; i < runs; ++i) {
        std::this_thread::sleep_for(gap);
        const auto start = Clock::now();
        const auto r = testsupport::runProcess({HUBCTL_PATH, "/Q"}, env, std::chrono::seconds(60));
        wall.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        figures.notice = r.err;
        const bool quiet = r.err.empty() || r.err.starts_with("hubctl: asking ");
        if (r.exitStatus != 0 || r.out.find(found) == std::string::npos || !quiet) {
            std::fprintf(stderr, "hubctl /Q: exit %d, signal %d%s\n%s%s\n", r.exitStatus, r.signal,
                         r.timedOut ? ", timed out" : "", r.out.substr(0, 200).c_str(), r.err.substr(0, 2000).c_str());
            return figures;
        }
    }
    const CpuTimes after = cpuNow();
    figures.medianMs = median(wall);
    figures.clientCpuMs = (after.children - before.children) * 1000.0 / runs;
    figures.hubsCpuMs = (after.own - before.own) * 1000.0 / runs;
    return figures;
}

// Median wall time of `hubctl /Q` over the farm, and the CPU it took.
SearchFigures farmSearch(const Farm& farm, int hubs, int runs) {
    const std::string found = std::to_string(hubs) + " Managed USB Hub(s) Found.";
    return timedSearches({"HUBLINK_REGISTRY_ROOT=" + farm.registry->root()}, found, runs);
}

void printCpu(const SearchFigures& f, int candidates) {
    std::printf("  cpu: hubctl %6.1f ms (%4.0f us a candidate), hubs %6.1f ms\n", f.clientCpuMs,
                f.clientCpuMs * 1000.0 / candidates, f.hubsCpuMs);
}

// Searches that should not grow with the number of ports: hubs only against
// one hub's query, hubs and silent ports against one timeout.
bool farmCases(int runs) {
    const SearchFigures one = farmSearch(Farm(1, 0), 1, runs);
    std::printf("%-26s runs=%2d median=%7.1f ms\n", "hubctl /Q, 1 hub", runs, one.medianMs);
    printCpu(one, 1);
    const struct {
        int hubs, silent;
    } sizes[] = {{32, 0}, {64, 0}, {64, 64}, {64, 192}};
    for (const auto& size : sizes) {
        const SearchFigures f = farmSearch(Farm(size.hubs, size.silent), size.hubs, runs);
        if (f.medianMs < 0) {
            std::fprintf(stderr, "farm of %d hubs, %d silent: wrong result\n", size.hubs, size.silent);
            return false;
        }
        const bool silent = size.silent > 0;
        std::printf("hubctl /Q, %3d hubs + %3d silent runs=%2d median=%7.1f ms ratio=%5.2f (to %s)\n", size.hubs,
                    size.silent, runs, f.medianMs, f.medianMs / (silent ? 1000.0 : one.medianMs),
                    silent ? "one timeout" : "one hub");
        printCpu(f, size.hubs + size.silent);
    }
    return true;
}

// A pty where nothing answers: what a silent device looks like to ser2net.
// Raw before anyone opens it; both ends kept, so no client's close hangs
// it up.
class SilentPty {
public:
    SilentPty() {
        char name[128];
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
        path_ = name;
        // Neither hubctl nor ser2net may inherit a thousand of them.
        ::fcntl(master_, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
        termios tio{};
        tcgetattr(slave_, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave_, TCSANOW, &tio);
    }
    ~SilentPty() {
        ::close(master_);
        ::close(slave_);
    }
    SilentPty(const SilentPty&) = delete;
    SilentPty& operator=(const SilentPty&) = delete;
    const std::string& path() const { return path_; }

private:
    int master_ = -1, slave_ = -1;
    std::string path_;
};

constexpr int kLabHubs = 8;

// ser2net runs on gensio too: past descriptor number 1024 (a listening
// socket, a device and a client each export) it refused some clients, so a
// lab's endpoints come from several servers of 256 exports, as from
// several hosts.
constexpr int kExportsPerServer = 256;

// `endpoints` exports, the hubs spread evenly among them.
struct Lab {
    std::vector<std::unique_ptr<sim::VirtualHub>> hubs;
    std::vector<std::unique_ptr<SilentPty>> silent;
    std::unique_ptr<sim::FakeRegistry> registry;  // empty: remotes only
    std::vector<std::unique_ptr<testsupport::Ser2netRig>> servers;
    std::string remotes;

    explicit Lab(int endpoints) {
        registry = std::make_unique<sim::FakeRegistry>(
            (std::filesystem::temp_directory_path() / ("search-lab-" + std::to_string(::getpid()))).string());
        std::vector<testsupport::Ser2netExport> exports;
        const int spacing = endpoints / kLabHubs;
        for (int k = 0; k < endpoints; ++k) {
            exports.push_back({k % spacing == spacing / 2 ? hubDevice() : silentDevice()});
            if (exports.size() < std::size_t(kExportsPerServer) && k + 1 < endpoints) continue;
            servers.push_back(std::make_unique<testsupport::Ser2netRig>(exports));
            for (std::size_t i = 0; i < exports.size(); ++i) remotes += servers.back()->url(i) + " ";
            exports.clear();
        }
    }
    std::string hubDevice() {
        hubs.push_back(std::make_unique<sim::VirtualHub>(sim::HubConfig{.wireTiming = true}));
        return hubs.back()->path();
    }
    std::string silentDevice() {
        silent.push_back(std::make_unique<SilentPty>());
        return silent.back()->path();
    }
    std::vector<std::string> env() const {
        return {"HUBLINK_REGISTRY_ROOT=" + registry->root(), "HUBLINK_REMOTES=" + remotes};
    }
};

struct Peaks {
    long descriptors = 0, threads = 0, residentKiB = 0;
    long sockets = 0, epolls = 0;  // at the sample with most descriptors
};

// Descriptors of a process: all, sockets and epoll instances.
struct DescriptorCount {
    long all = 0, sockets = 0, epolls = 0;
};

DescriptorCount countDescriptors(const std::string& proc) {
    DescriptorCount count;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(proc + "/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        ++count.all;
        const std::string target = std::filesystem::read_symlink(it->path(), ec).string();
        count.sockets += target.starts_with("socket:");
        count.epolls += target == "anon_inode:[eventpoll]";
    }
    return count;
}

long statusField(const std::string& status, const std::string& name) {
    const auto at = status.find(name + ":");
    return at == std::string::npos ? 0 : std::atol(status.c_str() + at + name.size() + 1);
}

// Samples a running process every 10 ms until it ends (at most 60 s).
void samplePeaks(pid_t pid, Peaks& peaks) {
    const std::string proc = "/proc/" + std::to_string(pid);
    for (int turn = 0; turn < 6000; ++turn) {
        std::ifstream in(proc + "/status");
        const std::string status((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (status.empty() || status.find("State:\tZ") != std::string::npos) return;
        const DescriptorCount fds = countDescriptors(proc);
        if (fds.all > peaks.descriptors) {
            peaks.descriptors = fds.all;
            peaks.sockets = fds.sockets;
            peaks.epolls = fds.epolls;
        }
        peaks.threads = std::max(peaks.threads, statusField(status, "Threads"));
        peaks.residentKiB = std::max(peaks.residentKiB, statusField(status, "VmHWM"));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

Peaks labPeaks(const Lab& lab) {
    Peaks peaks;
    testsupport::ProcessOptions options;
    options.env = lab.env();
    options.timeout = std::chrono::seconds(60);
    options.alongside = [&peaks](pid_t pid) { samplePeaks(pid, peaks); };
    testsupport::runProcess({HUBCTL_PATH, "/Q"}, options);
    return peaks;
}

// ser2net closes a device about 10 ms after its client left and takes the
// next client only then: runs are spaced past that.
constexpr auto kLabGap = std::chrono::milliseconds(200);

bool labCases(int runs) {
    const std::string found = std::to_string(kLabHubs) + " Managed USB Hub(s) Found.";
    for (const int endpoints : {256, 1024}) {
        const Lab lab(endpoints);
        const SearchFigures f = timedSearches(lab.env(), found, runs, kLabGap);
        if (f.medianMs < 0) {
            std::fprintf(stderr, "lab of %d endpoints: wrong result\n", endpoints);
            return false;
        }
        std::this_thread::sleep_for(kLabGap);
        const Peaks peaks = labPeaks(lab);
        std::printf("hubctl /Q, %4d endpoints  runs=%2d median=%7.1f ms ratio=%5.2f (to one timeout)\n",
                    endpoints, runs, f.medianMs, f.medianMs / 1000.0);
        printCpu(f, endpoints);
        if (!f.notice.empty()) std::printf("  told: %s", f.notice.c_str());
        std::printf("  peak: %ld descriptors (%.2f an endpoint: %ld sockets, %ld epoll), %ld threads, %.1f MiB "
                    "resident\n",
                    peaks.descriptors, double(peaks.descriptors) / endpoints, peaks.sockets, peaks.epolls,
                    peaks.threads, double(peaks.residentKiB) / 1024.0);
    }
    return true;
}

// Room for a thousand ptys, ser2net's reserved ports and what ser2net
// inherits: the soft limit on descriptors up to the hard one.
void raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace

int main(int argc, char** argv) try {
    const bool labOnly = argc > 1 && std::string(argv[1]) == "--lab";
    if (labOnly) {
        --argc;
        ++argv;
    }
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    raiseDescriptorLimit();
    if (labOnly) return labCases(runs) ? 0 : 1;
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
    ok = farmCases(runs) && ok;
    return labCases(runs) && ok ? 0 : 1;
} catch (const std::exception& e) {
    std::fprintf(stderr, "search_bench: %s\n", e.what());
    return 1;
}
