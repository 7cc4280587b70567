// A throw-away device registry in a directory of its own, shaped like the
// system's (sys/class/tty/NAME/device/driver and dev/NAME), so that control-port
// discovery can be pointed at it and find virtual hubs.
#pragma once

#include <string>
#include <vector>

namespace sim {

class FakeRegistry {
public:
    // Creates `root` (and its parents) if missing. `root`/sys and `root`/dev
    // must not exist yet: they are the registry's and go away with it.
    // Throws std::filesystem::filesystem_error or std::invalid_argument.
    explicit FakeRegistry(std::string root);
    // Removes sys/ and dev/, and `root` too when this object created it.
    ~FakeRegistry();
    FakeRegistry(const FakeRegistry&) = delete;
    FakeRegistry& operator=(const FakeRegistry&) = delete;

    // Adds sys/class/tty/`ttyName`/device (a directory) whose `driver` links
    // to the driver's directory: under sys/bus/usb/drivers for "cdc_acm",
    // sys/bus/platform/drivers for "serial8250", else sys/bus/usb-serial/drivers.
    // When `target` is not empty, dev/`ttyName` is made a link to it.
    // Returns the absolute path of dev/`ttyName`.
    std::string add(const std::string& ttyName, const std::string& target,
                    const std::string& driver = "ftdi_sio");

    // Writes sys/class/tty/`ttyName`/type, the UART type the serial core
    // found (0: none). add() writes 0 for the 8250 and serial-core drivers.
    void setUartType(const std::string& ttyName, int type);

    // A class entry with no device behind it (like the virtual consoles).
    void addWithoutDevice(const std::string& ttyName);

    const std::string& root() const { return root_; }  // absolute
    std::string sysRoot() const { return root_ + "/sys"; }
    std::string devDir() const { return root_ + "/dev"; }

private:
    std::string root_;
    bool createdRoot_ = false;
};

}  // namespace sim
