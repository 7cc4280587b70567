// Control-port discovery: the sysfs walk over fake trees, the prefix filters,
// the two name resolvers, and the UID search against virtual hubs.
#include <gtest/gtest.h>
#include <sim/virtual_hub.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "hublink/discovery.h"

namespace fs = std::filesystem;
using hublink::Frontend;
using hublink::PortLookup;

namespace {

// A sysfs and /dev look-alike in a temporary directory, shaped like the real
// one: class/tty entries are links into devices/, `device` links to the bus
// device, whose `driver` links to the driver.
class FakeTree {
public:
    FakeTree() {
        std::string pattern = (fs::temp_directory_path() / "discovery-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
        fs::create_directories(sys() / "class" / "tty");
        fs::create_directories(root() / "dev");
    }
    ~FakeTree() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    FakeTree(const FakeTree&) = delete;
    FakeTree& operator=(const FakeTree&) = delete;

    fs::path root() const { return root_; }
    fs::path sys() const { return root() / "sys"; }
    std::string dev(const std::string& name) const { return (root() / "dev" / name).string(); }

    // A tty class entry; `driver` empty means no device behind it. The /dev
    // node links to `target`, or is a plain file when none is given.
    void add(const std::string& name, const std::string& driver, const std::string& target = "") {
        const fs::path node = sys() / "devices" / "tty" / name;
        fs::create_directories(node);
        fs::create_directory_symlink(node, sys() / "class" / "tty" / name);
        if (!driver.empty()) {
            const fs::path drv = sys() / "bus" / "drivers" / driver;
            const fs::path bus = sys() / "devices" / "bus" / (name + "-port");
            fs::create_directories(drv);
            fs::create_directories(bus);
            fs::create_directory_symlink(drv, bus / "driver");
            fs::create_directory_symlink(bus, node / "device");
        }
        if (target.empty()) {
            std::ofstream(dev(name)).put('\n');
        } else {
            fs::create_symlink(target, dev(name));
        }
    }

    hublink::SysfsRegistry registry() const {
        return hublink::SysfsRegistry(sys().string(), (root() / "dev").string());
    }

private:
    std::string root_;
};

// A registry that hands back a fixed list, to test filters on their own.
class ListRegistry : public hublink::DeviceRegistry {
public:
    explicit ListRegistry(std::vector<std::string> paths) : paths_(std::move(paths)) {}
    std::vector<std::string> calloutDevices() const override { return paths_; }

private:
    std::vector<std::string> paths_;
};

TEST(SysfsRegistry, KeepsRealSerialDevicesInNameOrder) {
    FakeTree tree;
    tree.add("ttyUSB10", "ftdi_sio");
    tree.add("ttyUSB2", "cp210x");
    tree.add("ttyACM0", "cdc_acm");
    tree.add("tty0", "");             // virtual console: no device
    tree.add("ttyS0", "serial8250");  // placeholders: no UART answers TIOCGSERIAL
    tree.add("ttyS1", "port");        // the same under the serial core's own bus
    tree.add("ttyUSB1", "ch341");

    const std::vector<std::string> want = {tree.dev("ttyACM0"), tree.dev("ttyUSB1"),
                                           tree.dev("ttyUSB2"), tree.dev("ttyUSB10")};
    EXPECT_EQ(tree.registry().calloutDevices(), want);
}

TEST(SysfsRegistry, MissingTreeGivesNoDevices) {
    const hublink::SysfsRegistry missing("/nonexistent/sys", "/nonexistent/dev");
    EXPECT_TRUE(missing.calloutDevices().empty());
}

TEST(SysfsRegistry, EnvironmentRootSelectsTheDefaultRegistry) {
    FakeTree tree;
    tree.add("ttyUSB0", "pl2303");
    ::setenv("HUBLINK_REGISTRY_ROOT", tree.root().c_str(), 1);
    const std::vector<std::string> listed = hublink::getSerialPortList();
    ::unsetenv("HUBLINK_REGISTRY_ROOT");
    EXPECT_EQ(listed, std::vector<std::string>{tree.dev("ttyUSB0")});
}

TEST(PortLists, FiltersKeepRegistryOrderAndDuplicates) {
    const ListRegistry reg({"/dev/ttyUSB3", "/dev/ttyACM0", "/tmp/t/dev/ttyUSB1", "/dev/ttyS0",
                            "/dev/ttyUSB3", "/dev/ttyusb9"});
    struct Case {
        Frontend frontend;
        std::vector<std::string> want;
    };
    const std::vector<Case> cases = {
        {Frontend::Console, {"/dev/ttyUSB3", "/tmp/t/dev/ttyUSB1", "/dev/ttyUSB3"}},
        {Frontend::Panel, {"/dev/ttyUSB3", "/dev/ttyUSB3"}},
        {Frontend::Desk, reg.calloutDevices()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hublink::getSerialPortList(c.frontend, reg), c.want)
            << "frontend " << static_cast<int>(c.frontend);
    }
    EXPECT_TRUE(hublink::getSerialPortList(Frontend::Console, ListRegistry({})).empty());
}

TEST(PortLists, SearchByTextIsCaseSensitiveContains) {
    const ListRegistry reg({"/dev/ttyUSB3", "/dev/ttyACM0", "/tmp/t/dev/ttyUSB1", "/dev/ttyS0"});
    struct Case {
        std::string text;
        std::vector<std::string> want;
    };
    const std::vector<Case> cases = {
        {"ACM", {"/dev/ttyACM0"}},
        {"acm", {}},
        {"USB1", {"/tmp/t/dev/ttyUSB1"}},
        {"ttyS0", {"/dev/ttyS0"}},
        {"/tmp", {"/tmp/t/dev/ttyUSB1"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hublink::getSerialPortListWithComport(c.text, reg), c.want) << c.text;
    }
}

TEST(Resolvers, ValidCOMPort) {
    struct Case {
        const char* name;
        bool valid;
    };
    const Case cases[] = {
        {"COM1", true},   {"COM256", true}, {"COM257", false}, {"COM0", false},
        {"COM+5", true},  {"COM-5", false}, {"COM003", true},  {"COM", false},
        {"COM+", false},  {"COM3a", false}, {"com3", false},   {"COM 3", false},
        {" COM3", false}, {"COM99999999999999999999", false},
    };
    for (const Case& c : cases) EXPECT_EQ(hublink::validCOMPort(c.name), c.valid) << c.name;
}

struct LookupCase {
    std::string name;
    bool valid;
    std::string path;
};

// Without candidates a UID name finds nothing and costs no exchange.
const ListRegistry kNoPorts({});

TEST(Resolvers, QueryResolverTestsUpperCasedName) {
    const std::vector<LookupCase> cases = {
        {"cu.usbserial-B00337P8", true, "/dev/cu.usbserial-B00337P8"},
        {"CU.usbserial-B00337P8", true, "/dev/CU.usbserial-B00337P8"},
        {"ttyUSB0", true, "/dev/ttyUSB0"},
        {"TTYusb0", true, "/dev/TTYusb0"},
        {"/dev/ttyACM0", true, "/dev/ttyACM0"},
        {"/DEV/ttyACM0", true, "/DEV/ttyACM0"},
        {"COM3", true, "COM3"},
        {"com3", true, "COM3"},
        {"COM+5", true, "COM+5"},
        {"COM0", false, ""},
        {"COM257", false, ""},
        {"UID0123456789AB", false, ""},
        {"", false, ""},
        {"usbserial-B00337P8", false, ""},
        {"dev/ttyUSB0", false, ""},
    };
    for (const LookupCase& c : cases) {
        const PortLookup got = hublink::getCOMPort(c.name, kNoPorts);
        EXPECT_EQ(got.valid, c.valid) << c.name;
        EXPECT_EQ(got.path, c.path) << c.name;
    }
}

TEST(Resolvers, CommandResolverTestsNameAsTyped) {
    const std::vector<LookupCase> cases = {
        {"cu.usbserial-B00337P8", true, "/dev/cu.usbserial-B00337P8"},
        {"CU.usbserial-B00337P8", true, "CU.USBSERIAL-B00337P8"},
        {"ttyUSB0", true, "/dev/ttyUSB0"},
        {"TTYusb0", true, "TTYUSB0"},
        {"/dev/ttyACM0", true, "/dev/ttyACM0"},
        {"/DEV/ttyACM0", true, "/DEV/TTYACM0"},
        {"COM3", true, "COM3"},
        {"COM0", true, "COM0"},
        {"com257", true, "COM257"},
        {"usbserial", true, "USBSERIAL"},
        {"", true, ""},
        {"UID0123456789AB", false, ""},
        {"uId0123456789AB", false, ""},
    };
    for (const LookupCase& c : cases) {
        const PortLookup got = hublink::Get_COM_Port(c.name, kNoPorts);
        EXPECT_EQ(got.valid, c.valid) << c.name;
        EXPECT_EQ(got.path, c.path) << c.name;
    }
}

TEST(Resolvers, UidFromExtendedIdentify) {
    struct Case {
        std::string status, reply;
        std::string uid;  // empty: none
    };
    const std::vector<Case> cases = {
        {"OK", "TAVRINM03104V040123456789ABVirtual Hub\r", "0123456789AB"},
        {"OK", "TAVRINM03104V040123456789AB", "0123456789AB"},  // 27 characters: complete
        {"OK", "TAVRINM03104V040123456789A", ""},              // one short
        {"OK", "TAVRIN", ""},
        {"OK", "tavrinM03104V040123456789AB", ""},
        {"OK", "XTAVRINM03104V040123456789AB", ""},
        {"No", "", ""},
        {"No", "TAVRINM03104V040123456789AB", ""},
    };
    for (const Case& c : cases) {
        const auto uid = hublink::uidFromIdentify(hublink::Exchange{c.status, c.reply});
        EXPECT_EQ(uid.value_or(""), c.uid) << c.status << " " << c.reply;
        EXPECT_EQ(uid.has_value(), !c.uid.empty()) << c.reply;
    }
}

// Virtual hubs behind a fake tree: three USB serial ports and one CDC port.
class UidSearch : public ::testing::Test {
protected:
    static sim::HubConfig withUid(const std::string& uid) {
        sim::HubConfig cfg;
        cfg.uid = uid;
        return cfg;
    }
    void SetUp() override {
        tree.add("ttyUSB0", "ftdi_sio", first.path());
        tree.add("ttyUSB1", "ftdi_sio", lower.path());
        tree.add("ttyUSB2", "cp210x", wanted.path());
        tree.add("ttyACM0", "cdc_acm", modem.path());
    }
    sim::VirtualHub first{withUid("AAAAAAAAAAAA")};
    sim::VirtualHub lower{withUid("0123456789ab")};
    sim::VirtualHub wanted{withUid("0123456789AB")};
    sim::VirtualHub modem{withUid("DDDDDDDDDDDD")};
    FakeTree tree;
};

TEST_F(UidSearch, LowerCaseUidIsUpperCasedAndMatchedExactly) {
    const std::vector<std::string> asked = {"E?Q2\r"};
    const PortLookup byCommand = hublink::Get_COM_Port("uid0123456789ab", tree.registry());
    EXPECT_TRUE(byCommand.valid);
    EXPECT_EQ(byCommand.path, tree.dev("ttyUSB2"));
    // The hub reporting the lower-case UID was asked and passed over.
    EXPECT_EQ(lower.received(), asked);

    const PortLookup byQuery = hublink::getCOMPort("UID0123456789ab", tree.registry());
    EXPECT_TRUE(byQuery.valid);
    EXPECT_EQ(byQuery.path, tree.dev("ttyUSB2"));
    EXPECT_EQ(hublink::Find_COM_Port_From_UID("0123456789AB", tree.registry()), tree.dev("ttyUSB2"));
}

TEST_F(UidSearch, CdcPortIsFoundOnlyByNamingIt) {
    EXPECT_EQ(hublink::findCOMPortFromUID("DDDDDDDDDDDD", tree.registry()), "");
    EXPECT_TRUE(modem.received().empty());
    EXPECT_FALSE(hublink::getCOMPort("UIDDDDDDDDDDDDD", tree.registry()).valid);

    const hublink::UidReading named = hublink::GetUID_M031(tree.dev("ttyACM0"));
    EXPECT_EQ(named.status, "OK");
    EXPECT_EQ(named.uid, "DDDDDDDDDDDD");
}

TEST_F(UidSearch, ShortMarkedReplyHasNoUid) {
    // 26 characters: the last UID character is missing. Its first eleven
    // must not pass for a UID of their own.
    sim::Fault cut;
    cut.kind = sim::Fault::Kind::Raw;
    cut.raw = "TAVRINM03104V040123456789A\n";
    first.pushFault(cut);
    EXPECT_EQ(hublink::findCOMPortFromUID("0123456789A", tree.registry()), "");

    first.pushFault(cut);
    const hublink::UidReading read = hublink::GetUID_M031(tree.dev("ttyUSB0"));
    EXPECT_EQ(read.status, "Get UID Error");
    EXPECT_EQ(read.uid, "");
}

TEST_F(UidSearch, GetUidReadsOnePort) {
    sim::Fault garble;
    garble.kind = sim::Fault::Kind::Garble;
    first.pushFault(garble);
    const hublink::UidReading garbled = hublink::GetUID_M031(tree.dev("ttyUSB0"));
    EXPECT_EQ(garbled.status, "Get UID Error");
    EXPECT_EQ(garbled.uid, "");

    const hublink::UidReading good = hublink::GetUID_M031(tree.dev("ttyUSB0"));
    EXPECT_EQ(good.status, "OK");
    EXPECT_EQ(good.uid, "AAAAAAAAAAAA");
}

TEST_F(UidSearch, SilentPortIsSkipped) {
    first.setPersistentFault(sim::Fault{});  // Silent
    EXPECT_EQ(hublink::findCOMPortFromUID("0123456789AB", tree.registry()), tree.dev("ttyUSB2"));
    EXPECT_EQ(first.received(), std::vector<std::string>{"E?Q2\r"});
}

}  // namespace
