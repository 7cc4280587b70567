#include "hublink/discovery.h"

#include "hublink/port_fanout.h"
#include "hublink/port_url.h"
#include "hublink/remotes.h"

#include <cstdlib>

namespace hublink {

namespace {

constexpr std::string_view kExtendedIdentify = "E?Q2\r";
constexpr std::string_view kMark = "TAVRIN";
constexpr std::size_t kUidPos = 15;
constexpr std::size_t kUidLen = 12;

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool keptBy(Frontend frontend, std::string_view path) {
    switch (frontend) {
        case Frontend::Console: return path.find(kUsbSerialPrefix) != std::string_view::npos;
        case Frontend::Panel: return startsWith(path, kUsbSerialPrefix);
        case Frontend::Desk: return true;
    }
    return false;
}

// The UID part of a UID name: everything after "UID", upper-cased.
PortLookup lookupUid(std::string_view name, const DeviceRegistry& registry) {
    UidSearch search = findPortOfUid(upper(name.substr(3)), registry);
    const bool found = !search.path.empty();
    return {found, std::move(search.path), std::move(search.unopened)};
}

// Decimal integer with optional sign, all of `digits`; nullopt otherwise.
// Values far outside the port range are clamped, never overflowed.
std::optional<long> parseSignedDecimal(std::string_view digits) {
    bool negative = false;
    if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) {
        negative = digits[0] == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty()) return std::nullopt;
    long value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        if (value < 100000) value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

}  // namespace

SysfsRegistry defaultRegistry() {
    const char* root = std::getenv("HUBLINK_REGISTRY_ROOT");
    if (root == nullptr || *root == '\0') return SysfsRegistry();
    const std::string dir(root);
    return SysfsRegistry(dir + "/sys", dir + "/dev");
}

std::vector<std::string> getSerialPortList(Frontend frontend, const DeviceRegistry& registry) {
    std::vector<std::string> ports = getLocalSerialPortList(frontend, registry);
    for (std::string& url : configuredRemotes()) ports.push_back(std::move(url));
    return ports;
}

std::vector<std::string> getLocalSerialPortList(Frontend frontend, const DeviceRegistry& registry) {
    const std::string devices = registry.deviceDirectory();
    std::vector<std::string> kept;
    for (std::string& path : registry.calloutDevices()) {
        // DIR/dev/ttyUSB0 of a virtual registry is filtered as /dev/ttyUSB0.
        const bool inside = path.size() > devices.size() && startsWith(path, devices) &&
                            path[devices.size()] == '/';
        const std::string asOnHost = inside ? "/dev" + path.substr(devices.size()) : path;
        if (keptBy(frontend, asOnHost)) kept.push_back(std::move(path));
    }
    return kept;
}

std::vector<std::string> getSerialPortListWithComport(const std::string& comportName,
                                                      const DeviceRegistry& registry) {
    std::vector<std::string> kept;
    for (std::string& path : registry.calloutDevices()) {
        if (path.find(comportName) != std::string::npos) kept.push_back(std::move(path));
    }
    return kept;
}

bool validCOMPort(const std::string& comPort) {
    if (!startsWith(comPort, "COM")) return false;
    const std::optional<long> n = parseSignedDecimal(std::string_view(comPort).substr(3));
    return n && *n >= 1 && *n <= 256;
}

// A hub on another host keeps its URL as its name, letters as typed.
static PortLookup byUrl(const std::string& name) {
    if (!parsePortUrl(name).url) return {false, ""};
    return {true, name};
}

PortLookup getCOMPort(const std::string& comName, const DeviceRegistry& registry) {
    if (isPortUrl(comName)) return byUrl(comName);
    const std::string up = upper(comName);
    if (startsWith(up, "TTY") || startsWith(up, "CU.")) return {true, "/dev/" + comName};
    if (startsWith(up, "/DEV/")) return {true, comName};
    if (startsWith(up, "UID")) return lookupUid(comName, registry);
    if (validCOMPort(up)) return {true, up};
    return {false, ""};
}

PortLookup Get_COM_Port(const std::string& COM_Name, const DeviceRegistry& registry) {
    if (isPortUrl(COM_Name)) return byUrl(COM_Name);
    if (startsWith(COM_Name, "tty") || startsWith(COM_Name, "cu.")) return {true, "/dev/" + COM_Name};
    if (startsWith(COM_Name, "/dev/")) return {true, COM_Name};
    if (upper(std::string_view(COM_Name).substr(0, 3)) == "UID") return lookupUid(COM_Name, registry);
    return {true, upper(COM_Name)};
}

std::optional<std::string> uidFromIdentify(const Exchange& exchange) {
    const std::string& reply = exchange.reply;
    // A marked reply cut short carries no complete UID: treat it as none
    // rather than reading past its end.
    if (!exchange.ok() || !startsWith(reply, kMark) || reply.size() < kUidPos + kUidLen) {
        return std::nullopt;
    }
    return reply.substr(kUidPos, kUidLen);
}

UidSearch findPortOfUid(const std::string& uid, const DeviceRegistry& registry) {
    const std::vector<std::string> ports = getSerialPortList(Frontend::Console, registry);
    // All asked at once; the first port in list order that carries the UID
    // wins, however soon a later one answered.
    const auto answers = askEachPort<Exchange>(ports, [](const std::string& path) {
        return sendCommand(path, std::string(kExtendedIdentify));
    });
    UidSearch search;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (answers[i].openFailure) search.unopened.push_back(*answers[i].openFailure);
        const std::optional<std::string> found = uidFromIdentify(answers[i]);
        if (search.path.empty() && found && *found == uid) search.path = ports[i];
    }
    return search;
}

std::string findCOMPortFromUID(const std::string& uid, const DeviceRegistry& registry) {
    return findPortOfUid(uid, registry).path;
}

std::string Find_COM_Port_From_UID(const std::string& uid, const DeviceRegistry& registry) {
    return findCOMPortFromUID(uid, registry);
}

UidReading GetUID_M031(const std::string& com) {
    const Exchange answer = sendCommand(com, std::string(kExtendedIdentify));
    std::optional<std::string> uid = uidFromIdentify(answer);
    if (!uid) return {"Get UID Error", "", answer.openFailure};
    return {"OK", std::move(*uid)};
}

}  // namespace hublink
