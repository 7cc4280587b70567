#include "sim/fake_registry.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace sim {

namespace {

std::string busOf(const std::string& driver) {
    if (driver == "cdc_acm") return "usb";
    if (driver == "serial8250") return "platform";
    return "usb-serial";
}

// Names become single path components; anything else could escape the root.
void checkName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        throw std::invalid_argument("FakeRegistry: bad name '" + name + "'");
}

}  // namespace

FakeRegistry::FakeRegistry(std::string root) : root_(fs::absolute(root).lexically_normal()) {
    if (!root_.empty() && root_.size() > 1 && root_.back() == '/') root_.pop_back();
    if (fs::exists(sysRoot()) || fs::exists(devDir()))
        throw std::invalid_argument("FakeRegistry: " + root_ + " already has sys/ or dev/");
    createdRoot_ = fs::create_directories(root_);
    try {
        fs::create_directories(sysRoot() + "/class/tty");
        fs::create_directory(devDir());
    } catch (...) {
        std::error_code ignored;
        fs::remove_all(sysRoot(), ignored);
        if (createdRoot_) fs::remove(root_, ignored);
        throw;
    }
}

FakeRegistry::~FakeRegistry() {
    // remove_all deletes links, never what they point to.
    std::error_code ignored;
    fs::remove_all(sysRoot(), ignored);
    fs::remove_all(devDir(), ignored);
    if (createdRoot_) fs::remove(root_, ignored);
}

std::string FakeRegistry::add(const std::string& ttyName, const std::string& target,
                              const std::string& driver) {
    checkName(ttyName);
    checkName(driver);
    fs::path driverDir = fs::path(sysRoot()) / "bus" / busOf(driver) / "drivers" / driver;
    fs::create_directories(driverDir);
    fs::path device = fs::path(sysRoot()) / "class/tty" / ttyName / "device";
    fs::create_directories(device);
    fs::create_directory_symlink(driverDir, device / "driver");
    // The serial core reports the UART it found as the port's type; 0 is
    // none, as for the placeholder ports the 8250 driver registers.
    if (driver == "serial8250" || driver == "port") setUartType(ttyName, 0);
    fs::path devPath = fs::path(devDir()) / ttyName;
    if (!target.empty()) fs::create_symlink(target, devPath);
    return devPath.string();
}

void FakeRegistry::setUartType(const std::string& ttyName, int type) {
    checkName(ttyName);
    std::ofstream(fs::path(sysRoot()) / "class/tty" / ttyName / "type") << type << "\n";
}

void FakeRegistry::addWithoutDevice(const std::string& ttyName) {
    checkName(ttyName);
    fs::create_directories(fs::path(sysRoot()) / "class/tty" / ttyName);
}

}  // namespace sim
