// Measures what a hubctl command costs against a virtual hub that paces its
// replies at the real line speed, and compares it with the bare wire time of
// the bytes exchanged. A ratio near 1.0 means the tool adds almost nothing to
// what the serial line itself needs.
//
// It also measures how long hubctl takes to start and end without a hub (its
// help, /H) and the most memory it used, against a C++ program that prints
// one line (hello_line, built beside this benchmark with default flags).
//
// Usage: hubctl_bench [runs]   (default 30)

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "bench_stats.h"
#include "process.h"
#include "sim/virtual_hub.h"

namespace {

constexpr double kBitsPerByte = 10.0;  // start + 8 data + stop
constexpr double kBaud = 9600.0;

struct Case {
    const char* name;
    std::vector<std::string> args;  // after the program name; "{port}" is replaced
};

using bench::median;

std::vector<std::string> commandLine(const Case& c, const std::string& port) {
    std::vector<std::string> argv{HUBCTL_PATH};
    for (auto arg : c.args) {
        auto at = arg.find("{port}");
        if (at != std::string::npos) arg.replace(at, 6, port);
        argv.push_back(arg);
    }
    return argv;
}

bool runCase(const Case& c, int runs) {
    sim::HubConfig config;
    config.wireTiming = true;
    sim::VirtualHub hub(config);
    std::vector<double> wall;
    std::size_t bytes = 0;
    for (int i = 0; i < runs; ++i) {
        const std::size_t before = hub.bytesExchanged();
        auto start = std::chrono::steady_clock::now();
        auto result = testsupport::runProcess(commandLine(c, hub.path()));
        auto stop = std::chrono::steady_clock::now();
        if (result.exitStatus != 0) {
            std::fprintf(stderr, "%s failed (exit %d): %s\n", c.name, result.exitStatus,
                         result.out.c_str());
            return false;
        }
        wall.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
        bytes = hub.bytesExchanged() - before;
    }
    const double wire = static_cast<double>(bytes) * kBitsPerByte / kBaud * 1000.0;
    const double med = median(wall);
    std::printf("%-14s runs=%3d bytes=%3zu wire=%7.2f ms median=%7.2f ms ratio=%5.2f\n", c.name,
                runs, bytes, wire, med, med / wire);
    return true;
}

// Wall time of one hubctl run without arguments, its output thrown away, and
// its peak resident memory in KiB.
struct StartUp {
    double millis = -1;
    long peakKiB = 0;
};

StartUp startOnce(const char* program, const char* arg) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>(program), const_cast<char*>(arg), nullptr};
    char* envp[] = {nullptr};
    pid_t pid = -1;
    const auto start = std::chrono::steady_clock::now();
    const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv, envp);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return {};
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return {};
    const auto stop = std::chrono::steady_clock::now();
    return {std::chrono::duration<double, std::milli>(stop - start).count(), usage.ru_maxrss};
}

// Runs alternate between the two programs, so both see the same machine.
bool startUpCase(int runs) {
    std::vector<double> tool, line, toolPeak, linePeak;
    for (int i = 0; i < std::max(runs, 20); ++i) {
        const StartUp a = startOnce(HUBCTL_PATH, "/H"), b = startOnce(HELLO_PATH, nullptr);
        if (a.millis < 0 || b.millis < 0) {
            std::fprintf(stderr, "cannot run %s or %s\n", HUBCTL_PATH, HELLO_PATH);
            return false;
        }
        tool.push_back(a.millis);
        line.push_back(b.millis);
        toolPeak.push_back(double(a.peakKiB));
        linePeak.push_back(double(b.peakKiB));
    }
    const double toolMedian = median(tool), lineMedian = median(line);
    std::printf("%-14s runs=%3zu start+exit median=%6.2f ms peak memory median=%.0f KiB\n",
                "hubctl /H", tool.size(), toolMedian, median(toolPeak));
    std::printf("%-14s runs=%3zu start+exit median=%6.2f ms peak memory median=%.0f KiB\n",
                "hello_line", line.size(), lineMedian, median(linePeak));
    std::printf("%-14s start-up ratio=%5.2f\n", "hubctl/hello", toolMedian / lineMedian);
    return true;
}

}  // namespace

int main(int argc, char** argv) try {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    const std::vector<Case> cases = {
        {"/S 1:1", {"/S:{port}", "1:1"}},
        {"/Q:port", {"/Q:{port}"}},
        {"/G:port -H", {"/G:{port}", "-H"}},
        {"/G:port", {"/G:{port}"}},
        {"/W:port kiwi", {"/W:{port}", "kiwi"}},
    };
    bool ok = startUpCase(runs);
    for (const auto& c : cases) ok = runCase(c, runs) && ok;
    return ok ? 0 : 1;
} catch (const std::exception& e) {
    std::fprintf(stderr, "hubctl_bench: %s\n", e.what());
    return 1;
}
