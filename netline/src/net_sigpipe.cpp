#include "net_sigpipe.h"

#include <pthread.h>

#include <ctime>

namespace hublink::net {
namespace {

sigset_t onlySigpipe() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    return set;
}

bool sigpipePending() {
    sigset_t pending;
    sigemptyset(&pending);
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

SigpipeShield::SigpipeShield() : pendingBefore_(sigpipePending()) {
    const sigset_t set = onlySigpipe();
    pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

SigpipeShield::~SigpipeShield() {
    if (!pendingBefore_ && sigpipePending()) {
        const sigset_t set = onlySigpipe();
        const timespec now{0, 0};
        sigtimedwait(&set, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace hublink::net
