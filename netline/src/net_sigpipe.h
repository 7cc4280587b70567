// gensio writes to its sockets without MSG_NOSIGNAL: a server that hung up
// would raise SIGPIPE and end a program that never asked for it. A library
// must not change the process's signal handling, so each call into gensio
// runs with SIGPIPE blocked in the calling thread, and a SIGPIPE raised
// meanwhile is taken back before the old mask returns.
#pragma once

#include <signal.h>

namespace hublink::net {

class SigpipeShield {
public:
    SigpipeShield();
    ~SigpipeShield();
    SigpipeShield(const SigpipeShield&) = delete;
    SigpipeShield& operator=(const SigpipeShield&) = delete;

private:
    sigset_t previous_{};
    bool pendingBefore_ = false;
};

}  // namespace hublink::net
