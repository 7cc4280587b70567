// The fake device registry: its shape, a hub reached through it, its clean-up.
#include "sim/fake_registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "pty_client.h"
#include "sim/virtual_hub.h"

namespace fs = std::filesystem;

namespace {

fs::path freshPath() {
    static int made = 0;
    return fs::temp_directory_path() /
           ("simreg-" + std::to_string(::getpid()) + "-" + std::to_string(++made));
}

TEST(FakeRegistry, EntriesLookLikeTheSystemsOnes) {
    const std::pair<std::string, std::string> drivers[] = {
        {"ftdi_sio", "usb-serial"}, {"cdc_acm", "usb"}, {"serial8250", "platform"}};
    sim::VirtualHub hub;
    sim::FakeRegistry registry(freshPath().string());
    const fs::path sys = fs::canonical(registry.sysRoot());
    for (const auto& [driver, bus] : drivers) {
        const std::string dev = registry.add("tty-" + driver, hub.path(), driver);
        EXPECT_EQ(dev, registry.devDir() + "/tty-" + driver);
        const fs::path device = sys / "class/tty" / ("tty-" + driver) / "device";
        EXPECT_TRUE(fs::is_directory(fs::symlink_status(device)));
        EXPECT_TRUE(fs::is_symlink(device / "driver"));
        EXPECT_EQ(fs::canonical(device / "driver"), sys / "bus" / bus / "drivers" / driver);
        simtest::PtyClient client(dev);  // the hub answers through the dev link
        EXPECT_EQ(client.exchange("?Q"), "TAVRIN0AB304V04\n");
    }
    registry.addWithoutDevice("tty0");
    EXPECT_TRUE(fs::is_directory(sys / "class/tty/tty0"));
    EXPECT_FALSE(fs::exists(sys / "class/tty/tty0/device"));
    registry.add("ttyUSB9", "");
    EXPECT_FALSE(fs::exists(fs::symlink_status(registry.devDir() + "/ttyUSB9")));
    EXPECT_THROW(registry.add("../escape", "/dev/null"), std::invalid_argument);
}

TEST(FakeRegistry, RemovesOnlyWhatItMade) {
    const fs::path fresh = freshPath(), mine = freshPath();
    { sim::FakeRegistry registry(fresh.string()); }
    EXPECT_FALSE(fs::exists(fresh));

    fs::create_directory(mine);
    std::ofstream(mine / "keep.txt") << "mine";
    // Links go, never what they point to.
    { sim::FakeRegistry(mine.string()).add("ttyUSB0", (mine / "keep.txt").string()); }
    EXPECT_TRUE(fs::exists(mine / "keep.txt"));
    EXPECT_FALSE(fs::exists(mine / "sys") || fs::exists(mine / "dev"));

    fs::create_directory(mine / "sys");
    EXPECT_THROW(sim::FakeRegistry{mine.string()}, std::invalid_argument);
    EXPECT_TRUE(fs::exists(mine / "sys"));
    fs::remove_all(mine);
}

}  // namespace
