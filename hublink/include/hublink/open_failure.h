// Why a control port could not be opened, as a value: the library prints
// nothing, and each program's front end tells the user once per port.
#pragma once

#include <optional>
#include <string>

namespace hublink {

// The reasons worth telling. A missing device is none of them: to the user
// it is a port without a hub, as it always was.
enum class OpenFault {
    accessDenied,  // no permission to open the device (EACCES)
    notPermitted,  // the system refused the open (EPERM)
    busy,          // another program has the device to itself (EBUSY)
    held,          // another program kept the hub's claim past the wait
    unreachable,   // a hub on another host: no connection (`detail` says why)
};

struct OpenFailure {
    std::string path;  // the port as the caller named it
    OpenFault fault = OpenFault::accessDenied;
    std::string detail{};  // the network's own reason (`unreachable`, or `held` by another client)
    bool operator==(const OpenFailure&) const = default;
};

// The fault an open's error number stands for: EACCES, EPERM, EBUSY and
// EWOULDBLOCK (a claim or lease that did not come free); none for any other.
std::optional<OpenFault> openFaultOf(int errorNumber);

// The reason in English whatever the locale, e.g. "Permission denied (join
// the group 'dialout': sudo usermod -aG dialout $USER, then log in again)".
std::string openFaultText(OpenFault fault);

// "<path>: <reason>", the line every program prints after its name.
std::string openFailureText(const OpenFailure& failure);

}  // namespace hublink
