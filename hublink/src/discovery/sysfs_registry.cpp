// Linux serial device enumeration through sysfs, the way the common serial
// libraries do it: a tty class entry with a `device` link is backed by
// hardware; virtual consoles and pseudo-terminals have none.
#include <linux/serial.h>

#include <algorithm>
#include <fstream>
#include <filesystem>
#include <system_error>

#include "hublink/discovery.h"
#include "discovery/natural_order.h"

namespace hublink {

namespace fs = std::filesystem;

namespace {

std::string driverName(const fs::path& entry) {
    std::error_code ec;
    const fs::path driver = fs::canonical(entry / "device" / "driver", ec);
    return ec ? std::string() : driver.filename().string();
}

// The 8250 driver registers its full count of ports whether or not a UART
// sits behind them; only a port whose type the driver recognised is real.
// The type is read from sysfs: opening a real UART to ask would toggle its
// modem lines.
bool isRealSerial8250(const fs::path& entry) {
    std::ifstream typeFile(entry / "type");
    int type = PORT_UNKNOWN;
    return typeFile >> type && type != PORT_UNKNOWN;
}

// 8250 ports hang off the platform driver "serial8250" on older kernels and
// off the serial core's "port" driver (bus serial-base) since Linux 6.5.
bool mayBePlaceholder(const std::string& driver) {
    return driver == "serial8250" || driver == "port";
}

bool isSerialDevice(const fs::path& entry) {
    std::error_code ec;
    if (!fs::exists(entry / "device", ec)) return false;
    if (mayBePlaceholder(driverName(entry))) return isRealSerial8250(entry);
    return true;
}

}  // namespace

SysfsRegistry::SysfsRegistry(std::string sysRoot, std::string devRoot)
    : sysRoot_(std::move(sysRoot)), devRoot_(std::move(devRoot)) {}

std::vector<std::string> SysfsRegistry::calloutDevices() const {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(fs::path(sysRoot_) / "class" / "tty", ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (isSerialDevice(it->path())) names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end(), naturalLess);

    std::vector<std::string> paths;
    paths.reserve(names.size());
    for (const std::string& name : names) paths.push_back(devRoot_ + "/" + name);
    return paths;
}

}  // namespace hublink
