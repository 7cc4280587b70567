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

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench_stats.h"
#include "firmware/update_flow.h"
#include "process.h"
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

// One ser2net export on loopback with the given accepter layers and
// options; the test rig writes the plain accepters only.
struct Variant {
    const char* name;
    const char* scheme;   // of the URL
    const char* layers;   // accepter text before the address
    const char* options;  // YAML lines under "options:", or empty
};

const Variant kRfc2217{"rfc2217", "rfc2217", "telnet(rfc2217),tcp", ""};
const Variant kRfc2217Nodelay{"rfc2217 nd", "rfc2217", "telnet(rfc2217),tcp(nodelay)", ""};
const Variant kRfc2217Direct{"rfc2217 nd,nc", "rfc2217", "telnet(rfc2217),tcp(nodelay)", "    chardelay: false\n"};
const Variant kTcp{"tcp", "tcp", "tcp", ""};
const Variant kTcpDirect{"tcp nd,nc", "tcp", "tcp(nodelay)", "    chardelay: false\n"};

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    ::close(fd);
    if (!ok) throw std::runtime_error("no free loopback port");
    return ntohs(address.sin_port);
}

// From /proc/net/tcp: a probe connection would make ser2net open the device.
bool listensOn(int port) {
    char local[32];
    std::snprintf(local, sizeof local, "0100007F:%04X", port);
    std::ifstream table("/proc/net/tcp");
    std::string slot, address, remote, state, rest;
    while (table >> slot >> address >> remote >> state && std::getline(table, rest))
        if (address == local && state == "0A") return true;
    return false;
}

class Ser2net {
public:
    Ser2net(const std::string& device, const Variant& variant) : port_(freePort()) {
        char pattern[] = "/tmp/remote-bench-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
        directory_ = pattern;
        const std::string config = directory_ + "/ser2net.yaml";
        std::ofstream(config) << "%YAML 1.1\n---\nconnection: &hub\n  accepter: " << variant.layers
                              << ",127.0.0.1," << port_ << "\n  connector: serialdev," << device
                              << ",9600n81,local\n"
                              << (*variant.options ? "  options:\n" : "") << variant.options;
        const std::string log = directory_ + "/ser2net.log";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT, 0600);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        std::vector<std::string> args = {"/usr/sbin/ser2net", "-n", "-d", "-u", "-c", config};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) throw std::runtime_error("cannot start ser2net");
        url_ = std::string(variant.scheme) + "://127.0.0.1:" + std::to_string(port_);
        for (int i = 0; !listensOn(port_); ++i) {
            if (i == 500) throw std::runtime_error("ser2net did not come up, see " + log);
            std::this_thread::sleep_for(10ms);
        }
    }
    ~Ser2net() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;
    const std::string& url() const { return url_; }

private:
    int port_;
    pid_t pid_ = -1;
    std::string directory_;
    std::string url_;
};

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
    std::unique_ptr<Ser2net> server;
    if (variant != nullptr) server = std::make_unique<Ser2net>(hub.path(), *variant);
    const char* via = variant != nullptr ? variant->name : "local";
    const std::string port = server ? server->url() : hub.path();
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
        const Ser2net server(hub.path(), variant);
        firmware::UpdateOptions options;
        options.hubInLoader = true;
        const auto start = Clock::now();
        const auto outcome = firmware::runUpdate(server.url(), "", image, options);
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
