// Bounded waits on one descriptor, shared by both transports.
#pragma once

#include <cstddef>

namespace hublink {

// Waits at most `millis` for input on `fd`. Returns >0 when readable (or hung
// up: the read then tells), 0 on timeout, -1 when the wait failed. A signal
// does not extend the wait: the remaining time is recomputed and it goes on.
int waitReadable(int fd, int millis);

// read(2) that repeats when a signal interrupts it before any byte arrived.
long readRetrying(int fd, void* buf, std::size_t len);

// Seconds as a poll timeout in ms, rounded up, never negative.
int timeoutMillis(double seconds);

}  // namespace hublink
