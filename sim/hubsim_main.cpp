// hubsim: virtual hubs for trying the tools without hardware. See --help.
#include <signal.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "hublink/std_streams.h"
#include "src/hubsim_options.h"
#include "sim/fake_registry.h"
#include "sim/virtual_hub.h"

namespace {

// Checks for a stop once a second, so no wait is unbounded.
void waitForStop(const sigset_t& stopSignals) {
    const timespec tick{1, 0};
    while (sigtimedwait(&stopSignals, nullptr, &tick) < 0) {
    }
}

int serve(const sim::SimOptions& options, const sigset_t& stopSignals) {
    std::vector<std::unique_ptr<sim::VirtualHub>> hubs;
    for (const sim::HubConfig& config : sim::hubConfigs(options))
        hubs.push_back(std::make_unique<sim::VirtualHub>(config));

    std::unique_ptr<sim::FakeRegistry> registry;
    std::vector<std::string> paths;
    if (!options.treeDir.empty()) registry = std::make_unique<sim::FakeRegistry>(options.treeDir);
    for (std::size_t k = 0; k < hubs.size(); ++k) {
        const std::string& pty = hubs[k]->path();
        paths.push_back(registry ? registry->add("ttyUSB" + std::to_string(k), pty) : pty);
    }

    for (std::size_t k = 0; k < hubs.size(); ++k)
        hubs[k]->setWriteListener([path = paths[k]](std::size_t bytes, std::uint16_t checksum) {
            std::fprintf(stderr, "hubsim: %s: firmware written, %zu bytes, checksum 0x%04X\n",
                         path.c_str(), bytes, unsigned(checksum));
        });
    for (const std::string& path : paths) std::printf("%s\n", path.c_str());
    if (std::fflush(stdout) != 0) return 1;
    waitForStop(stopSignals);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (!hublink::ensureStdStreams()) return 1;
    sim::ParsedSimOptions parsed = sim::parseSimOptions({argv + 1, argv + argc});
    if (!parsed.options) {
        std::fprintf(stderr, "hubsim: %s\nTry 'hubsim --help'.\n", parsed.error.c_str());
        return 2;
    }
    if (parsed.options->help) {
        std::fputs(sim::simUsage(), stdout);
        return 0;
    }
    // Blocked before the hub threads start, so they inherit it and only the
    // wait below takes the signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    try {
        return serve(*parsed.options, stopSignals);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "hubsim: %s\n", e.what());
        return 1;
    }
}
