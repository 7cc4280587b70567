#include "line/device_open.h"

#include <fcntl.h>

#include <atomic>
#include <cerrno>

namespace hublink {

namespace {

std::atomic<OpenCall> injectedOpen{nullptr};

}  // namespace

int openDevice(const std::string& path, int flags, std::optional<OpenFailure>& failure) {
    const OpenCall call = injectedOpen.load();
    const int fd = call != nullptr ? call(path.c_str(), flags) : ::open(path.c_str(), flags);
    const int err = errno;
    failure = fd < 0 ? failureFor(path, err) : std::nullopt;
    errno = err;
    return fd;
}

std::optional<OpenFailure> failureFor(const std::string& path, int errorNumber) {
    const std::optional<OpenFault> fault = openFaultOf(errorNumber);
    if (!fault) return std::nullopt;
    return OpenFailure{path, *fault};
}

OpenCall replaceOpenCall(OpenCall call) { return injectedOpen.exchange(call); }

}  // namespace hublink
