#include "panel/update_signals.h"

#include <array>
#include <csignal>

namespace panel {

namespace {

volatile std::sig_atomic_t heldSignal = 0;

void remember(int signal) {
    if (heldSignal == 0) heldSignal = signal;
}

constexpr std::array<int, 4> kSignals = {SIGHUP, SIGPIPE, SIGINT, SIGTERM};
std::array<struct sigaction, kSignals.size()> found{};
int holders = 0;  // windows updating now; the signals are the process's

void install(int signal, void (*handler)(int), struct sigaction* previous) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, previous);
}

}  // namespace

UpdateSignals::~UpdateSignals() {
    if (holding_) release();
}

void UpdateSignals::hold() {
    if (holding_) return;
    holding_ = true;
    if (holders++ > 0) return;
    heldSignal = 0;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        const bool ends = kSignals[i] == SIGINT || kSignals[i] == SIGTERM;
        install(kSignals[i], ends ? remember : SIG_IGN, &found[i]);
    }
}

int UpdateSignals::release() {
    if (!holding_) return 0;
    holding_ = false;
    if (--holders > 0) return 0;  // the last update to end acts on a held signal
    for (std::size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &found[i], nullptr);
    return static_cast<int>(heldSignal);
}

}  // namespace panel
