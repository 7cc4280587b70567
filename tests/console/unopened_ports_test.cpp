// A user who may not open the ports: hubctl and hubflash print on standard
// output, and exit with, what they do for a port without a hub, and name on
// standard error each port they could not open, with the reason, once. Run
// as another user (setpriv) against a virtual hub's pty of mode 0600, the
// real case; switching users needs root.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "hub_harness.h"
#include "process.h"

namespace {

using hubtest::Lines;

constexpr const char* kMissing = "/dev/pts/no-such-port";
constexpr const char* kSetpriv = "/usr/bin/setpriv";  // util-linux
constexpr const char* kDenied =
    ": Permission denied (join the group 'dialout': sudo usermod -aG dialout $USER, then log in "
    "again)\n";

struct Places {
    std::string hub;   // for "@hub": a port named directly
    std::string port;  // for "@port": the registry's ttyUSB0
    const hubtest::Registry& registry;
};

std::string placed(std::string arg, const Places& at) {
    const std::pair<std::string, std::string> marks[] = {{"@hub", at.hub}, {"@port", at.port}};
    for (const auto& [mark, path] : marks)
        for (auto i = arg.find(mark); i != std::string::npos; i = arg.find(mark, i + path.size()))
            arg.replace(i, mark.size(), path);
    return arg;
}

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto i = text.find(part); i != std::string::npos; i = text.find(part, i + 1)) ++n;
    return n;
}

class UnopenedPorts : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "running a program as another user needs root";
        if (::access(kSetpriv, X_OK) != 0) GTEST_SKIP() << kSetpriv << " is missing";
        // The registries' temporary directories are private to root.
        for (const hubtest::Registry* r : {&registry_, &empty_})
            ::chmod(std::filesystem::path(r->root()).parent_path().c_str(), 0755);
        port_ = registry_.add("ttyUSB0", hub_.path());
        absent_ = empty_.add("ttyUSB0", kMissing);
    }

    // `program` with `args` as user and group 65534, without supplementary groups.
    testsupport::ProcessResult asNobody(const char* program, const Lines& args, const Places& at) {
        Lines argv{kSetpriv, "--reuid=65534", "--regid=65534", "--clear-groups", program};
        for (const std::string& arg : args) argv.push_back(placed(arg, at));
        return testsupport::runProcess(argv, {"HUBLINK_REGISTRY_ROOT=" + at.registry.root()});
    }
    // As above, against the hub, and against the same ports with no device.
    testsupport::ProcessResult atHub(const char* program, const Lines& args) {
        return asNobody(program, args, {hub_.path(), port_, registry_});
    }
    testsupport::ProcessResult withoutHub(const char* program, const Lines& args) {
        return asNobody(program, args, {kMissing, absent_, empty_});
    }
    std::string named(const std::string& mark) const { return mark == "@hub" ? hub_.path() : port_; }

    sim::VirtualHub hub_{[] {
        sim::HubConfig config;
        config.record = true;
        return config;
    }()};
    hubtest::Registry registry_, empty_;
    std::string port_, absent_;
};

TEST_F(UnopenedPorts, HubctlNamesTheDeniedPortOnceAndPrintsWhatItDoesWithoutAHub) {
    ASSERT_EQ(::chmod(hub_.path().c_str(), 0600), 0);
    const struct {
        Lines args;
        const char* told;  // the port named on standard error
    } cases[] = {
        {{"/Q"}, "@port"},
        {{"/Q", "-F"}, "@port"},
        {{"/Q:@hub"}, "@hub"},
        {{"/G:@hub"}, "@hub"},
        {{"/S:@hub", "1:3"}, "@hub"},
        {{"/P:@hub", "abcdefgh"}, "@hub"},
        {{"/T:@hub"}, "@hub"},
        {{"/U:@hub"}, "@hub"},
        {{"/U:UID0123456789AB"}, "@port"},
        {{"/J", R"({"CMD":"Q"})"}, "@port"},
        {{"/J", R"({"CMD":"QH","COM":"@hub"})"}, "@hub"},
        {{"/J", R"({"CMD":"SPST","COM":"@hub","STATE":"1"})"}, "@hub"},
        {{"/J", R"({"CMD":"SVPS","COM":"@hub"})"}, "@hub"},
        {{"/J", R"({"CMD":"RUID","COM":"@hub"})"}, "@hub"},
        {{"/J", R"({"CMD":"GPST","COM":"UID0123456789AB"})"}, "@port"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const auto without = withoutHub(HUBCTL_PATH, c.args);
        const auto denied = atHub(HUBCTL_PATH, c.args);
        ASSERT_FALSE(without.out.empty()) << without.err;
        EXPECT_EQ(without.err, "");  // a missing device is a port without a hub
        EXPECT_EQ(denied.out, without.out);
        EXPECT_EQ(denied.exitStatus, without.exitStatus);
        EXPECT_EQ(denied.err, "hubctl: " + named(c.told) + kDenied);
    }
    EXPECT_TRUE(hub_.received().empty());
}

TEST_F(UnopenedPorts, HubctlNamesAPortAnotherProgramHasToItself) {
    ASSERT_EQ(::chmod(hub_.path().c_str(), 0666), 0);
    // Exclusive mode, as a terminal program sets it; root alone passes it.
    const int holder = ::open(hub_.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::ioctl(holder, TIOCEXCL), 0);
    for (const Lines& args : {Lines{"/Q:@hub"}, Lines{"/Q"}}) {
        const auto busy = atHub(HUBCTL_PATH, args);
        EXPECT_EQ(busy.out, withoutHub(HUBCTL_PATH, args).out);
        EXPECT_EQ(busy.err, "hubctl: " + named(args[0] == "/Q" ? "@port" : "@hub") +
                                ": Device or resource busy\n");
    }
    ::ioctl(holder, TIOCNXCL);
    ::close(holder);
    EXPECT_TRUE(hub_.received().empty());
}

TEST_F(UnopenedPorts, HubflashNamesTheDeniedPortOnce) {
    ASSERT_EQ(::chmod(hub_.path().c_str(), 0600), 0);
    const std::string image =
        (std::filesystem::path(registry_.root()).parent_path() / "image.bin").string();
    std::ofstream(image) << "padding TAVRIN_PID:\x0A\xB3 padding";
    ::chmod(image.c_str(), 0644);
    for (const Lines& args : {Lines{"--raw", "@hub", image}, Lines{"--raw", "--recover", "@hub", image},
                              Lines{"--raw", "UID0123456789AB", image}}) {
        SCOPED_TRACE(testing::PrintToString(args));
        const auto without = withoutHub(HUBFLASH_PATH, args);
        const auto denied = atHub(HUBFLASH_PATH, args);
        EXPECT_EQ(denied.out, without.out);
        EXPECT_EQ(denied.exitStatus, without.exitStatus);
        const std::string line = "hubflash: " + named(args[1] == "UID0123456789AB" ? "@port" : "@hub") + kDenied;
        EXPECT_EQ(count(denied.err, line), 1u) << denied.err;
        EXPECT_EQ(count(without.err, "Permission denied"), 0u) << without.err;
    }
    EXPECT_TRUE(hub_.received().empty());
}

}  // namespace
