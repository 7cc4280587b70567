// The open call of every transport and of the claim, through one pointer so
// that tests can make it fail as a port the user may not open fails; and the
// one place where an open's errno becomes the library's OpenFailure.
#pragma once

#include <optional>
#include <string>

#include "hublink/open_failure.h"

namespace hublink {

// open(2)'s shape, without the mode argument no port needs.
using OpenCall = int (*)(const char* path, int flags);

// Opens `path` with `flags`. The descriptor, or -1 with errno set and
// `failure` holding the reason when it is one worth telling (else reset).
int openDevice(const std::string& path, int flags, std::optional<OpenFailure>& failure);

// The failure `errorNumber` stands for on `path`, or none.
std::optional<OpenFailure> failureFor(const std::string& path, int errorNumber);

// Test seam: openDevice calls `call` from now on (nullptr: open(2) itself).
// Returns the call it replaces.
OpenCall replaceOpenCall(OpenCall call);

}  // namespace hublink
