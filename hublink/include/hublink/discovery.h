// Control-port discovery and addressing: which serial devices are candidate
// hub control ports, how the names users type become device paths, and which
// port carries the hub with a given UID.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hublink/exchange.h"
#include "hublink/open_failure.h"

namespace hublink {

// The host's serial devices, in a stable order.
class DeviceRegistry {
public:
    virtual ~DeviceRegistry() = default;
    // Paths of every real serial device; empty when enumeration fails.
    virtual std::vector<std::string> calloutDevices() const = 0;
    // The directory the device paths are in ("/dev" on the host). The front
    // ends' name filters look at paths relative to it, so a registry kept
    // elsewhere (a virtual one) is filtered like the host's.
    virtual std::string deviceDirectory() const { return "/dev"; }
};

// Enumerates sysRoot/class/tty/NAME entries that have a `device` link and
// yields devRoot + "/" + NAME, ordered by NAME (runs of digits compare by
// value, so ttyUSB2 comes before ttyUSB10). Entries without a device (virtual
// consoles, pseudo-terminals) are left out, and so are serial8250 entries
// without a UART behind them.
class SysfsRegistry : public DeviceRegistry {
public:
    explicit SysfsRegistry(std::string sysRoot = "/sys", std::string devRoot = "/dev");
    std::vector<std::string> calloutDevices() const override;
    std::string deviceDirectory() const override { return devRoot_; }

private:
    std::string sysRoot_;
    std::string devRoot_;
};

// The registry the programs use. When the environment variable
// HUBLINK_REGISTRY_ROOT names a directory DIR, the tree under DIR/sys and the
// devices under DIR/dev stand in for the host's (how tests and
// `hubsim --tree DIR` present virtual hubs); otherwise /sys and /dev.
// Read anew on every call.
SysfsRegistry defaultRegistry();

// Where USB serial adapters appear; the automatic lists keep only these.
inline constexpr std::string_view kUsbSerialPrefix = "/dev/ttyUSB";

// Which program's filter the candidate list applies.
enum class Frontend {
    Console,  // paths that contain kUsbSerialPrefix
    Panel,    // paths that begin with kUsbSerialPrefix
    Desk,     // every serial device
};

// Candidate control ports of a search: the registry's devices the front
// end's filter keeps, in registry order, then the configured hubs on other
// hosts (configuredRemotes in hublink/remotes.h: their URLs in configured
// order, each once; entries that are no URL are told on standard error).
std::vector<std::string> getSerialPortList(Frontend frontend = Frontend::Console,
                                           const DeviceRegistry& registry = defaultRegistry());

// The registry's part of getSerialPortList alone.
std::vector<std::string> getLocalSerialPortList(Frontend frontend = Frontend::Console,
                                                const DeviceRegistry& registry = defaultRegistry());

// Every serial device whose path contains `comportName` (case-sensitive).
std::vector<std::string> getSerialPortListWithComport(
    const std::string& comportName, const DeviceRegistry& registry = defaultRegistry());

// Result of resolving a user's port name. A UID name is searched for:
// `unopened` then holds the candidates that could not be opened for a reason
// worth telling, each once, in candidate order.
struct PortLookup {
    bool valid = false;
    std::string path;
    std::vector<OpenFailure> unopened{};
};

// True for "COM" followed by a decimal integer (optional sign) of 1 to 256.
bool validCOMPort(const std::string& comPort);

// Resolver of the query command. Prefix tests look at the name upper-cased:
// "TTY…" and "CU." get "/dev/" prepended, "/DEV/…" is kept, "UID…" is searched
// (upper-cased), a valid COMn is returned upper-cased; anything else is
// refused. Paths keep the letters as typed except for UID and COM forms.
PortLookup getCOMPort(const std::string& comName,
                      const DeviceRegistry& registry = defaultRegistry());

// Resolver of every other command. Prefix tests are case-sensitive: "tty" and
// "cu." get "/dev/" prepended, "/dev/…" is kept, a name whose first three
// characters upper-cased are "UID" is searched; any other name is accepted
// upper-cased (an unusable path fails later, when it is opened).
PortLookup Get_COM_Port(const std::string& COM_Name,
                        const DeviceRegistry& registry = defaultRegistry());

// The UID in an extended identify exchange: status "OK", reply beginning with
// "TAVRIN" and long enough to hold positions 15-26. Otherwise none.
std::optional<std::string> uidFromIdentify(const Exchange& exchange);

// Asks every console candidate (getSerialPortList, hubs on other hosts
// included) for its UID, all at once (one exchange each,
// up to 1 s when a port is silent), and returns the first path in candidate
// order whose UID equals `uid` exactly; empty when none does.
std::string findCOMPortFromUID(const std::string& uid,
                               const DeviceRegistry& registry = defaultRegistry());
std::string Find_COM_Port_From_UID(const std::string& uid,
                                   const DeviceRegistry& registry = defaultRegistry());

// findCOMPortFromUID with the candidates it could not open (as PortLookup's
// `unopened`); `path` is empty when no port carries the UID.
struct UidSearch {
    std::string path;
    std::vector<OpenFailure> unopened{};
};
UidSearch findPortOfUid(const std::string& uid, const DeviceRegistry& registry = defaultRegistry());

// UID of the hub on `com`: {"OK", uid} or {"Get UID Error", ""}, the latter
// with the reason the port could not be opened when worth telling.
struct UidReading {
    std::string status;
    std::string uid;
    std::optional<OpenFailure> openFailure{};
};
UidReading GetUID_M031(const std::string& com);

}  // namespace hublink
