// What both transports do right after opening a control port.
#pragma once

#include <chrono>

#include "hublink/command_claim.h"

namespace hublink {

// How long an exchange waits for another process (or thread) to finish its
// own exchange, or command, on the same port before it gives up.
inline constexpr std::chrono::milliseconds kClaimTimeout = kCommandClaimTimeout;

// Takes an advisory exclusive flock on `fd`, retrying every few ms up to
// `timeout`, so that two exchanges on one hub never interleave their lines;
// then asks the driver for low latency (best effort). A port this process
// holds a CommandClaim on is not locked again. False (errno set) when
// the lock was not obtained; the caller then closes `fd`. The lock lives as
// long as the open file description: closing `fd` releases it.
bool claimPort(int fd, std::chrono::milliseconds timeout = kClaimTimeout);

}  // namespace hublink
