// Control-port discovery: the sysfs walk over a fake registry, the prefix
// filters, the two name resolvers, and the UID search against virtual hubs.
#include "hublink/discovery.h"

#include <unistd.h>

#include <gtest/gtest.h>
#include <sim/fake_registry.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "hub_test_util.h"

namespace hublink {
namespace {

using Paths = std::vector<std::string>;

// A registry root of its own for each test (the registry makes and removes it).
std::string freshRoot() {
    static int made = 0;
    return (std::filesystem::temp_directory_path() /
            ("hublink-discovery-" + std::to_string(::getpid()) + "-" + std::to_string(++made)))
        .string();
}

SysfsRegistry sysfsOf(const sim::FakeRegistry& reg) {
    return SysfsRegistry(reg.sysRoot(), reg.devDir());
}

TEST(SysfsRegistry, KeepsRealSerialDevicesInNameOrder) {
    sim::FakeRegistry reg(freshRoot());
    const std::pair<const char*, const char*> entries[] = {
        {"ttyUSB10", "ftdi_sio"}, {"ttyUSB2", "cp210x"}, {"ttyACM0", "cdc_acm"},
        {"ttyS0", "serial8250"},  // placeholders: sysfs reports no UART type
        {"ttyS1", "port"},        // the same under the serial core's own bus
        {"ttyS2", "serial8250"},  // a real UART (16550A)
        {"ttyUSB1", "ch341"},
    };
    for (const auto& [name, driver] : entries) reg.add(name, "/dev/null", driver);
    reg.setUartType("ttyS2", 4);
    reg.addWithoutDevice("tty0");  // a virtual console
    const std::string dev = reg.devDir() + "/";
    // Decided from sysfs alone: /dev/null would have answered no serial
    // ioctl, so the UART counts as real only because it was not asked.
    EXPECT_EQ(sysfsOf(reg).calloutDevices(), (Paths{dev + "ttyACM0", dev + "ttyS2", dev + "ttyUSB1",
                                                    dev + "ttyUSB2", dev + "ttyUSB10"}));
    EXPECT_TRUE(SysfsRegistry("/nonexistent/sys", "/nonexistent/dev").calloutDevices().empty());

    // The environment points the default registry at the fake one.
    ::setenv("HUBLINK_REGISTRY_ROOT", reg.root().c_str(), 1);
    const Paths listed = getSerialPortList();
    ::unsetenv("HUBLINK_REGISTRY_ROOT");
    EXPECT_EQ(listed, (Paths{dev + "ttyUSB1", dev + "ttyUSB2", dev + "ttyUSB10"}));
}

// A registry that hands back a fixed list, to test the filters on their own.
struct ListRegistry : DeviceRegistry {
    Paths paths;
    Paths calloutDevices() const override { return paths; }
};

TEST(PortLists, FiltersKeepRegistryOrder) {
    ListRegistry reg;
    reg.paths = {"/dev/ttyUSB3", "/dev/ttyACM0", "/tmp/t/dev/ttyUSB1", "/dev/ttyUSB3",
                 "/dev/ttyusb9"};
    EXPECT_EQ(getSerialPortList(Frontend::Console, reg),
              (Paths{"/dev/ttyUSB3", "/tmp/t/dev/ttyUSB1", "/dev/ttyUSB3"}));
    EXPECT_EQ(getSerialPortList(Frontend::Panel, reg), (Paths{"/dev/ttyUSB3", "/dev/ttyUSB3"}));
    EXPECT_EQ(getSerialPortList(Frontend::Desk, reg), reg.paths);
    EXPECT_EQ(getSerialPortListWithComport("USB1", reg), Paths{"/tmp/t/dev/ttyUSB1"});
    EXPECT_EQ(getSerialPortListWithComport("acm", reg), Paths{});

    // A registry kept in a folder of its own is filtered by the names inside it.
    sim::FakeRegistry fake(freshRoot());
    const std::string usb = fake.add("ttyUSB0", "/dev/null");
    fake.add("ttyACM0", "/dev/null", "cdc_acm");
    EXPECT_EQ(getSerialPortList(Frontend::Panel, sysfsOf(fake)), Paths{usb});
    EXPECT_EQ(getSerialPortList(Frontend::Console, sysfsOf(fake)), Paths{usb});
}

TEST(Resolvers, BothCaseRulesAndTheComRange) {
    struct Case {
        std::string name;
        bool validCom;
        std::optional<std::string> query, command;  // none: refused
    };
    const Case cases[] = {
        {"cu.usbserial-B0", false, "/dev/cu.usbserial-B0", "/dev/cu.usbserial-B0"},
        {"CU.usbserial-B0", false, "/dev/CU.usbserial-B0", "CU.USBSERIAL-B0"},
        {"ttyUSB0", false, "/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"TTYusb0", false, "/dev/TTYusb0", "TTYUSB0"},
        {"/dev/ttyACM0", false, "/dev/ttyACM0", "/dev/ttyACM0"},
        {"/DEV/ttyACM0", false, "/DEV/ttyACM0", "/DEV/TTYACM0"},
        {"dev/ttyUSB0", false, {}, "DEV/TTYUSB0"},
        {"COM1", true, "COM1", "COM1"},
        {"COM256", true, "COM256", "COM256"},
        {"COM+5", true, "COM+5", "COM+5"},
        {"com3", false, "COM3", "COM3"},
        {"COM0", false, {}, "COM0"},
        {"com257", false, {}, "COM257"},
        {"COM-5", false, {}, "COM-5"},
        {"COM3a", false, {}, "COM3A"},
        {"COM99999999999999999999", false, {}, "COM99999999999999999999"},
        // No candidate ports: a UID name finds nothing.
        {"UID0123456789AB", false, {}, {}},
        {"uId0123456789AB", false, {}, {}},
    };
    const ListRegistry none;
    for (const Case& c : cases) {
        EXPECT_EQ(validCOMPort(c.name), c.validCom) << c.name;
        const PortLookup query = getCOMPort(c.name, none), command = Get_COM_Port(c.name, none);
        EXPECT_EQ(query.valid ? std::optional(query.path) : std::nullopt, c.query) << c.name;
        EXPECT_EQ(command.valid ? std::optional(command.path) : std::nullopt, c.command) << c.name;
    }
}

TEST(Resolvers, UidFromExtendedIdentify) {
    const std::string full = "TAVRIN0AB304V040123456789AB";  // 27 characters: complete
    EXPECT_EQ(uidFromIdentify({"OK", full}), "0123456789AB");
    EXPECT_EQ(uidFromIdentify({"OK", full.substr(0, 26)}), std::nullopt);
    EXPECT_EQ(uidFromIdentify({"OK", "tavrin" + full.substr(6)}), std::nullopt);
    EXPECT_EQ(uidFromIdentify({"No", full}), std::nullopt);
}

// Virtual hubs behind a fake registry: three USB serial ports and one CDC port.
TEST(UidSearch, FindsTheExactUidAmongTheUsbPorts) {
    sim::VirtualHub first({.uid = "AAAAAAAAAAAA"}), lower({.uid = "0123456789ab", .record = true}),
        wanted({.uid = "0123456789AB", .record = true}),
        modem({.uid = "DDDDDDDDDDDD", .record = true});
    sim::FakeRegistry reg(freshRoot());
    reg.add("ttyUSB0", first.path());
    const std::string usb1 = reg.add("ttyUSB1", lower.path());
    const std::string usb2 = reg.add("ttyUSB2", wanted.path(), "cp210x");
    const std::string acm0 = reg.add("ttyACM0", modem.path(), "cdc_acm");
    const SysfsRegistry sysfs = sysfsOf(reg);

    // The UID is upper-cased; the hub reporting it in lower case is asked and passed over.
    const PortLookup byCommand = Get_COM_Port("uid0123456789ab", sysfs);
    EXPECT_TRUE(byCommand.valid);
    EXPECT_EQ(byCommand.path, usb2);
    EXPECT_EQ(lower.received(), Paths{"E?Q2\r"});
    const PortLookup byQuery = getCOMPort("UID0123456789ab", sysfs);
    EXPECT_TRUE(byQuery.valid);
    EXPECT_EQ(byQuery.path, usb2);
    EXPECT_EQ(Find_COM_Port_From_UID("0123456789AB", sysfs), usb2);
    // The CDC port is no candidate, but answers when named.
    EXPECT_EQ(findCOMPortFromUID("DDDDDDDDDDDD", sysfs), "");
    EXPECT_TRUE(modem.received().empty());
    const UidReading named = GetUID_M031(acm0);
    EXPECT_EQ(named.status + " " + named.uid, "OK DDDDDDDDDDDD");

    // A silent port is skipped; a marked reply one character short has no UID,
    // so its first eleven must not pass for a UID of their own.
    first.pushFault(hubtest::fault(hubtest::Kind::Silent));
    lower.pushFault(hubtest::raw("TAVRIN0AB304V040123456789A\n"));
    EXPECT_EQ(findCOMPortFromUID("0123456789A", sysfs), "");
    EXPECT_EQ(wanted.received().size(), 5u);  // every search got this far
    lower.pushFault(hubtest::raw("TAVRIN0AB304V040123456789A\n"));
    const UidReading cut = GetUID_M031(usb1);
    EXPECT_EQ(cut.status + " " + cut.uid, "Get UID Error ");
}

}  // namespace
}  // namespace hublink
