// What both transports do right after opening a control port.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "hublink/command_claim.h"
#include "hublink/open_failure.h"

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

// Opens `path` with `flags` and claims it. The descriptor, or -1 with nothing
// left open and `failure` saying why when the reason is worth telling (the
// claim's wait running out is: another program holds the hub).
int openClaimed(const std::string& path, int flags, std::optional<OpenFailure>& failure);

}  // namespace hublink
