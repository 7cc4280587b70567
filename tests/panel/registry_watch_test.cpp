// The registry watch against trees made as `hubsim --tree` makes them (its
// registry class, so a stop and start are its removal and remaking); the
// host's udev only as far as it can be started.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <hublink/discovery.h>
#include <sim/fake_registry.h>
#include <string>

#include "panel/registry_watch.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using panel::RegistryWatch;

namespace {

// True when the watch reports a device change within `bound`.
bool reported(RegistryWatch& watch, std::chrono::milliseconds bound = 1000ms) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{watch.fd(), POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) > 0 && watch.drain()) return true;
    }
}

// Reads what is pending until the watch has been quiet for a moment.
void settle(RegistryWatch& watch) {
    while (true) {
        pollfd p{watch.fd(), POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) return;
        watch.drain();
    }
}

struct TempDir {
    fs::path path;
    TempDir() {
        std::string templ = (fs::temp_directory_path() / "registry-watch-XXXXXX").string();
        path = ::mkdtemp(templ.data());
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

// hubsim's registry adds entries; they go again by hand.
void removeDevice(sim::FakeRegistry& registry, const std::string& name) {
    fs::remove_all(fs::path(registry.sysRoot()) / "class/tty" / name);
    fs::remove(fs::path(registry.devDir()) / name);
}

int openDescriptors() {
    return int(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

// In the list the window reads again after a report.
bool listed(const sim::FakeRegistry& registry, const std::string& path) {
    return std::ranges::count(
               hublink::getLocalSerialPortList(
                   hublink::Frontend::Panel,
                   hublink::SysfsRegistry(registry.sysRoot(), registry.devDir())),
               path) == 1;
}

TEST(RegistryWatchTree, DeviceComingAndGoingIsReportedAndListedAfterwards) {
    TempDir dir;
    sim::FakeRegistry registry((dir.path / "tree").string());
    RegistryWatch watch(registry.root());
    ASSERT_GE(watch.fd(), 0) << watch.failure();
    EXPECT_EQ(watch.failure(), "");
    EXPECT_FALSE(watch.drain());  // nothing happened yet

    const std::string path = registry.add("ttyUSB0", "/dev/null");
    EXPECT_TRUE(reported(watch));
    settle(watch);  // the window lists again after the last event
    EXPECT_TRUE(listed(registry, path));

    removeDevice(registry, "ttyUSB0");
    EXPECT_TRUE(reported(watch));
    settle(watch);
    EXPECT_FALSE(listed(registry, path));
}

// Either half of an entry alone is a change: they are made one after the other.
TEST(RegistryWatchTree, EitherHalfOfAnEntryIsReported) {
    TempDir dir;
    sim::FakeRegistry registry((dir.path / "tree").string());
    RegistryWatch watch(registry.root());
    ASSERT_GE(watch.fd(), 0) << watch.failure();

    registry.addWithoutDevice("ttyUSB4");  // sys/class/tty only
    EXPECT_TRUE(reported(watch));
    fs::create_symlink("/dev/null", fs::path(registry.devDir()) / "ttyUSB5");  // dev only
    EXPECT_TRUE(reported(watch));
    fs::rename(fs::path(registry.devDir()) / "ttyUSB5", fs::path(registry.devDir()) / "ttyUSB6");
    EXPECT_TRUE(reported(watch));
}

TEST(RegistryWatchTree, OtherFilesInDevAreNotDevices) {
    TempDir dir;
    sim::FakeRegistry registry((dir.path / "tree").string());
    RegistryWatch watch(registry.root());
    ASSERT_GE(watch.fd(), 0) << watch.failure();
    const fs::path dev = registry.devDir();

    std::ofstream(dev / "null") << "x";
    fs::create_directory(dev / "pts");
    fs::create_symlink("/dev/null", dev / "random");
    std::ofstream(dev / ".lock") << "x";
    fs::rename(dev / ".lock", dev / "lock");
    fs::remove(dev / "null");
    std::ofstream(fs::path(registry.root()) / "notes.txt") << "x";  // beside dev/, not in it
    EXPECT_FALSE(reported(watch, 300ms));
}

// hubsim removes its tree when it stops and makes it anew when started again.
TEST(RegistryWatchTree, RegistryRemovedAndMadeAgainIsWatchedAgain) {
    TempDir dir;
    const std::string root = (dir.path / "tree").string();
    fs::create_directory(root);  // stays: the registry did not make it
    auto registry = std::make_unique<sim::FakeRegistry>(root);
    RegistryWatch watch(root);
    ASSERT_GE(watch.fd(), 0) << watch.failure();

    registry.reset();
    EXPECT_TRUE(reported(watch));
    settle(watch);
    registry = std::make_unique<sim::FakeRegistry>(root);
    EXPECT_TRUE(reported(watch));
    settle(watch);
    // The new directories are watched, not only the root.
    fs::create_symlink("/dev/null", fs::path(registry->devDir()) / "ttyUSB1");
    EXPECT_TRUE(reported(watch));
    registry->addWithoutDevice("ttyUSB1");
    EXPECT_TRUE(reported(watch));
}

TEST(RegistryWatchTree, UnwatchableRootsSayWhy) {
    TempDir dir;
    fs::create_directories(dir.path / "sys/class/tty");  // no dev/
    std::ofstream(dir.path / "file") << "x";
    const int before = openDescriptors();
    for (const fs::path& root : {dir.path, dir.path / "missing", dir.path / "file"}) {
        RegistryWatch watch(root.string());
        EXPECT_EQ(watch.fd(), -1) << root;
        EXPECT_NE(watch.failure().find((root / "dev").string()), std::string::npos)
            << watch.failure();
        EXPECT_FALSE(watch.drain());
    }
    EXPECT_EQ(openDescriptors(), before);  // the inotify descriptor went with each
}

// The program's watch follows HUBLINK_REGISTRY_ROOT like defaultRegistry().
TEST(RegistryWatchTree, DefaultFollowsTheEnvironment) {
    TempDir dir;
    sim::FakeRegistry registry((dir.path / "tree").string());
    ::setenv("HUBLINK_REGISTRY_ROOT", registry.root().c_str(), 1);
    RegistryWatch watch;
    ::unsetenv("HUBLINK_REGISTRY_ROOT");
    ASSERT_GE(watch.fd(), 0) << watch.failure();
    registry.add("ttyACM0", "/dev/null");
    EXPECT_TRUE(reported(watch));
}

// No device can be made to appear on the host; starting the watch must
// neither hang nor leave it unexplained.
TEST(RegistryWatchHost, StartsOrSaysWhyWithoutWaiting) {
    ::unsetenv("HUBLINK_REGISTRY_ROOT");
    const int before = openDescriptors();
    const auto start = std::chrono::steady_clock::now();
    {
        RegistryWatch watch;
        if (watch.fd() >= 0) {
            EXPECT_EQ(watch.failure(), "");
            EXPECT_EQ(::fcntl(watch.fd(), F_GETFL) & O_NONBLOCK, O_NONBLOCK);
            watch.drain();
        } else {
            EXPECT_NE(watch.failure(), "");
        }
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(openDescriptors(), before);
}

}  // namespace
