// The fake device registry: its shape, its clean-up, and a hub reached through it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "pty_client.h"
#include "sim/fake_registry.h"
#include "sim/virtual_hub.h"

namespace fs = std::filesystem;

namespace {

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "simreg.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
        path_ = pattern;
    }
    ~TempDir() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

TEST(FakeRegistry, EntriesLookLikeTheSystemsOnes) {
    struct Case {
        std::string tty;
        std::string driver;
        std::string bus;
    };
    const Case cases[] = {
        {"ttyUSB0", "ftdi_sio", "usb-serial"},
        {"ttyUSB1", "cp210x", "usb-serial"},
        {"ttyACM0", "cdc_acm", "usb"},
        {"ttyS0", "serial8250", "platform"},
    };
    TempDir tmp;
    sim::FakeRegistry registry((tmp.path() / "reg").string());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tty);
        std::string dev = registry.add(c.tty, "/dev/null", c.driver);
        EXPECT_EQ(dev, registry.devDir() + "/" + c.tty);
        EXPECT_EQ(fs::read_symlink(dev), "/dev/null");
        fs::path device = fs::path(registry.sysRoot()) / "class/tty" / c.tty / "device";
        EXPECT_TRUE(fs::is_directory(fs::symlink_status(device)));
        EXPECT_TRUE(fs::is_symlink(device / "driver"));
        EXPECT_TRUE(fs::is_directory(device / "driver"));
        EXPECT_EQ(fs::canonical(device / "driver"),
                  fs::canonical(registry.sysRoot()) / "bus" / c.bus / "drivers" / c.driver);
    }
    registry.addWithoutDevice("tty0");
    EXPECT_TRUE(fs::is_directory(fs::path(registry.sysRoot()) / "class/tty/tty0"));
    EXPECT_FALSE(fs::exists(fs::path(registry.sysRoot()) / "class/tty/tty0/device"));
    registry.add("ttyUSB9", "");
    EXPECT_FALSE(fs::exists(fs::symlink_status(registry.devDir() + "/ttyUSB9")));
    EXPECT_THROW(registry.add("../escape", "/dev/null"), std::invalid_argument);
}

TEST(FakeRegistry, RemovesOnlyWhatItMade) {
    TempDir tmp;
    fs::path fresh = tmp.path() / "fresh";
    { sim::FakeRegistry registry(fresh.string()); }
    EXPECT_FALSE(fs::exists(fresh));

    std::ofstream(tmp.path() / "keep.txt") << "mine";
    {
        sim::FakeRegistry registry(tmp.path().string());
        registry.add("ttyUSB0", "/dev/null");
    }
    EXPECT_TRUE(fs::exists(tmp.path() / "keep.txt"));
    EXPECT_FALSE(fs::exists(tmp.path() / "sys"));
    EXPECT_FALSE(fs::exists(tmp.path() / "dev"));
    EXPECT_TRUE(fs::exists("/dev/null"));

    fs::create_directory(tmp.path() / "sys");
    EXPECT_THROW(sim::FakeRegistry{tmp.path().string()}, std::invalid_argument);
    EXPECT_TRUE(fs::exists(tmp.path() / "sys"));
}

TEST(FakeRegistry, AHubAnswersThroughItsDevLink) {
    TempDir tmp;
    sim::VirtualHub hub;
    sim::FakeRegistry registry(tmp.path().string());
    simtest::PtyClient client(registry.add("ttyUSB0", hub.path()));
    EXPECT_EQ(client.exchange("?Q"), "TAVRINM03104V04\n");
}

}  // namespace
