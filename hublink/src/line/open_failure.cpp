#include "hublink/open_failure.h"

#include <cerrno>

namespace hublink {

std::optional<OpenFault> openFaultOf(int errorNumber) {
    switch (errorNumber) {
        case EACCES: return OpenFault::accessDenied;
        case EPERM: return OpenFault::notPermitted;
        case EBUSY: return OpenFault::busy;
        case EWOULDBLOCK: return OpenFault::held;
        default: return std::nullopt;
    }
}

// Fixed texts rather than strerror: a window program runs under the user's
// locale, and every tool must say the same.
std::string openFaultText(OpenFault fault) {
    switch (fault) {
        case OpenFault::accessDenied:
            return "Permission denied (join the group 'dialout': sudo usermod -aG dialout $USER, "
                   "then log in again)";
        case OpenFault::notPermitted: return "Operation not permitted";
        case OpenFault::busy: return "Device or resource busy";
        case OpenFault::held: return "in use by another program";
        case OpenFault::unreachable: return "cannot be reached";
    }
    return "cannot be opened";
}

std::string openFailureText(const OpenFailure& failure) {
    // The network's reason says more than the fault's words, busy or not.
    if (!failure.detail.empty()) return failure.path + ": " + failure.detail;
    return failure.path + ": " + openFaultText(failure.fault);
}

}  // namespace hublink
