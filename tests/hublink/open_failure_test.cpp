// Ports the user may not open: which errors are told and in what words, each
// transport carrying the reason out to its caller, and the searches listing
// every candidate they could not open once.
#include "hublink/open_failure.h"

#include <unistd.h>

#include <gtest/gtest.h>
#include <sim/fake_registry.h>
#include <sim/virtual_hub.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

#include "hublink/command_claim.h"
#include "hublink/discovery.h"
#include "hublink/exchange.h"
#include "hublink/hub_query.h"
#include "open_denial.h"

namespace hublink {
namespace {

using Failure = std::optional<OpenFailure>;

constexpr const char* kMissing = "/dev/pts/no-such-port";

TEST(OpenFailure, ErrorsToldAndTheirWords) {
    const struct {
        int error;
        std::optional<OpenFault> fault;
        const char* text;
    } cases[] = {
        {EACCES, OpenFault::accessDenied,
         "Permission denied (join the group 'dialout': sudo usermod -aG dialout $USER, then log "
         "in again)"},
        {EPERM, OpenFault::notPermitted, "Operation not permitted"},
        {EBUSY, OpenFault::busy, "Device or resource busy"},
        {EWOULDBLOCK, OpenFault::held, "in use by another program"},
        // A missing device, or one that is no port, is a port without a hub.
        {ENOENT, std::nullopt, ""}, {ENXIO, std::nullopt, ""}, {ENODEV, std::nullopt, ""},
        {EIO, std::nullopt, ""},    {EISDIR, std::nullopt, ""}, {0, std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        EXPECT_EQ(openFaultOf(c.error), c.fault);
        if (c.fault) {
            EXPECT_EQ(openFailureText({"/dev/ttyUSB0", *c.fault}), std::string("/dev/ttyUSB0: ") + c.text);
        }
    }
}

sim::HubConfig recorded() {
    sim::HubConfig config;
    config.record = true;
    return config;
}

// Every way the library opens a port, each reporting why it could not (the
// window queries through the bridge, the console's through SerialPort).
struct Opener {
    const char* name;
    std::function<Failure(const std::string& path)> open;
};

std::vector<Opener> openers() {
    return {
        {"sendCommand", [](const std::string& p) { return sendCommand(p, "?Q\r").openFailure; }},
        {"queryHub", [](const std::string& p) { return queryHub(p).openFailure; }},
        {"GetUID_M031", [](const std::string& p) { return GetUID_M031(p).openFailure; }},
        {"askHubs2", [](const std::string& p) { return askHubs2(p).openFailure; }},
        {"askHubsDesk", [](const std::string& p) { return askHubsDesk(p).openFailure; }},
        {"CommandClaim", [](const std::string& p) { return CommandClaim(p).failure(); }},
    };
}

TEST(OpenFailure, EveryTransportCarriesTheReasonOfItsOneAttempt) {
    sim::VirtualHub hub(recorded());
    for (const Opener& opener : openers()) {
        SCOPED_TRACE(opener.name);
        {
            const hubtest::OpenDenial denial({hub.path()}, EACCES);
            EXPECT_EQ(opener.open(hub.path()), (OpenFailure{hub.path(), OpenFault::accessDenied}));
            // A query gives up after its first exchange: one attempt, one reason.
            EXPECT_EQ(denial.attempts(hub.path()), 1);
        }
        EXPECT_EQ(opener.open(hub.path()), std::nullopt);
        EXPECT_EQ(opener.open(kMissing), std::nullopt);
    }
    EXPECT_TRUE(hub.received().size() > 0);  // the hub answered once it could be opened
}

TEST(OpenFailure, SearchesListEachUnopenedCandidateOnceInOrder) {
    sim::VirtualHub a(recorded()), b(recorded()), c(recorded());
    const std::vector<std::string> candidates{a.path(), kMissing, b.path(), c.path()};
    const std::vector<OpenFailure> busy{{a.path(), OpenFault::busy}, {c.path(), OpenFault::busy}};
    const hubtest::OpenDenial denial({a.path(), c.path()}, EBUSY);

    const HubSearch console = findHubs(candidates);
    ASSERT_EQ(console.hubs.size(), 1u);
    EXPECT_EQ(console.hubs[0].at("Port_Name"), b.path());
    EXPECT_EQ(console.unopened, busy);

    const HubSearch window = findHubsWindow(candidates);
    ASSERT_EQ(window.hubs.size(), 1u);
    EXPECT_EQ(window.hubs[0].at("ControlPort"), b.path());
    EXPECT_EQ(window.unopened, busy);
    EXPECT_EQ(denial.attempts(a.path()), 2);  // once per search
    EXPECT_EQ(denial.attempts(c.path()), 2);
    EXPECT_TRUE(a.received().empty());
}

TEST(OpenFailure, UidLookupNamesTheCandidatesItCouldNotOpen) {
    const auto root = std::filesystem::temp_directory_path() /
                      ("hublink-unopened-" + std::to_string(::getpid()));
    sim::FakeRegistry reg(root.string());
    sim::HubConfig other = recorded();
    other.uid = "BBBBBBBBBBBB";
    sim::VirtualHub denied(recorded()), answering(other);
    const std::string usb0 = reg.add("ttyUSB0", denied.path());
    const std::string usb1 = reg.add("ttyUSB1", answering.path());
    const SysfsRegistry sysfs(reg.sysRoot(), reg.devDir());
    const hubtest::OpenDenial denial({usb0}, EPERM);

    const PortLookup found = Get_COM_Port("UIDBBBBBBBBBBBB", sysfs);
    EXPECT_EQ(found.path, usb1);
    const std::vector<OpenFailure> perm{{usb0, OpenFault::notPermitted}};
    EXPECT_EQ(found.unopened, perm);
    const PortLookup lost = getCOMPort("UID0123456789AB", sysfs);
    EXPECT_FALSE(lost.valid);
    EXPECT_EQ(lost.unopened, perm);
    // A name that needs no search tells nothing.
    EXPECT_TRUE(Get_COM_Port(usb0, sysfs).unopened.empty());
}

TEST(OpenFailure, ClaimThatDoesNotComeFreeIsHeldByAnotherProgram) {
    sim::VirtualHub hub;
    const CommandClaim mine(hub.path());
    ASSERT_TRUE(mine.held());
    Failure failure;
    // Another thread waits as another process would.
    std::thread([&] { failure = CommandClaim(hub.path(), std::chrono::milliseconds(50)).failure(); })
        .join();
    EXPECT_EQ(failure, (OpenFailure{hub.path(), OpenFault::held}));
    EXPECT_EQ(mine.failure(), std::nullopt);
}

}  // namespace
}  // namespace hublink
