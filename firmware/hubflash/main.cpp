// hubflash: a hub's firmware update from the command line. See --help.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "flash_app.h"
#include "flash_options.h"
#include "hublink/std_streams.h"

namespace {

std::atomic<bool> interrupted{false};

void onInterrupt(int) { interrupted = true; }

void setAction(int signal, void (*handler)(int), int flags) {
    struct sigaction action{};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

// A first Ctrl-C stops the update between packets (never inside one); a
// second one ends the program at once. A closed terminal or a reader that
// went away (`| head`) must not stop it half way: their writes just fail.
void catchSignals() {
    setAction(SIGINT, onInterrupt, SA_RESETHAND);
    setAction(SIGTERM, onInterrupt, SA_RESETHAND);
    setAction(SIGHUP, SIG_IGN, 0);
    setAction(SIGPIPE, SIG_IGN, 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (!hublink::ensureStdStreams()) return 1;
    try {
        const auto parsed = hubflash::parseFlashOptions({argv + 1, argv + argc});
        if (!parsed.options) {
            std::fprintf(stderr, "hubflash: %s\n", parsed.error.c_str());
            std::fputs(hubflash::flashUsage(), stdout);
            return hubflash::exitStatus(hubflash::Verdict::Usage);
        }
        if (parsed.options->help) {
            std::fputs(hubflash::flashUsage(), stdout);
            return 0;
        }
        catchSignals();
        return hubflash::runHubflash(*parsed.options, &interrupted);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "hubflash: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "hubflash: unexpected failure\n");
    }
    std::printf("I/O Error!\n");
    return 1;
}
