// hubctl and hubflash against hubs exported by a real ser2net on loopback:
// every command by URL, clients that meet at one export, and the firmware
// update through RFC 2217.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <future>
#include <random>
#include <sstream>
#include <thread>

#include "firmware/firmware_file.h"
#include "hub_harness.h"
#include "process.h"
#include "nvt_server.h"
#include "ser2net_rig.h"

namespace hubtest {
namespace {

using testsupport::Ser2netAccepter;
using testsupport::Ser2netRig;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

sim::HubConfig recorded(std::uint32_t states = 0) {
    sim::HubConfig config;
    config.record = true;
    config.states = states;
    config.eraseTime = 20ms;
    config.bootTime = 20ms;
    return config;
}

testsupport::ProcessResult run(const char* program, const Lines& args) {
    Lines argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::runProcess(argv, {}, 30s);
}

std::string replaced(std::string text, std::string url, bool json = false) {
    for (std::size_t at = 0; json && (at = url.find('/', at)) != std::string::npos; at += 2) url.insert(at, "\\");
    for (std::size_t at; (at = text.find("@url")) != std::string::npos;) text.replace(at, 4, url);
    return text;
}

TEST(RemoteHub, EveryKindOfCommandByUrl) {
    struct Case {
        Lines args;
        std::string out;
        int status;
        Lines sent;
    };
    const std::vector<Case> cases = {
        {{"/Q:@url"}, "@url, 4 ports, On=2, Off=1,3,4, FW=V04, UID=0123456789AB, Description=Virtual Hub\n", 0,
         kQueryV04},
        {{"/S:@url", "1:1"}, "", 0, kQueryV04 + Lines{"SPkiwi    F3FFFFFF\r"}},
        {{"/G:@url"}, "On=2 Off=1,3,4\n", 0, kQueryV04},
        {{"/J", R"({"CMD":"QH","COM":"@url"})"}, "", 0, {}},
    };
    for (const Ser2netAccepter accepter : {Ser2netAccepter::rfc2217, Ser2netAccepter::raw}) {
        for (const Case& c : cases) {
            sim::VirtualHub hub(recorded(0b0010));
            Ser2netRig rig({{hub.path(), accepter}});
            Lines args;
            for (const std::string& a : c.args) args.push_back(replaced(a, rig.url(0)));
            SCOPED_TRACE(args.front());
            const testsupport::ProcessResult r = run(HUBCTL_PATH, args);
            EXPECT_EQ(r.exitStatus, c.status) << r.out << r.err;
            if (c.args.front() == "/J") {
                // The URL is the port's name ("/" written as "\/" in JSON).
                EXPECT_THAT(r.out, HasSubstr(replaced("\"Port_Name\": \"@url\"", rig.url(0), true)));
                continue;
            }
            EXPECT_EQ(r.out, replaced(c.out, rig.url(0)));
            EXPECT_EQ(hub.received(), c.sent);
        }
    }
}

TEST(RemoteHub, NoServerGivesTheCommandsOwnFailureAndTheReason) {
    const std::string url = "rfc2217://127.0.0.1:1";  // nothing listens there
    const auto start = std::chrono::steady_clock::now();
    const testsupport::ProcessResult query = run(HUBCTL_PATH, {"/Q:" + url});
    EXPECT_EQ(query.out, "Error Query Hub!\n");
    EXPECT_THAT(query.err, HasSubstr(url + ": 127.0.0.1:1 refused the connection"));
    const testsupport::ProcessResult set = run(HUBCTL_PATH, {"/S:" + url, "1:1"});
    EXPECT_EQ(set.exitStatus, 1);
    EXPECT_THAT(set.err, HasSubstr(url));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

// The memory map of a command taken while its first exchange waits for a
// reply the hub holds back: every library it loads is loaded by then.
std::string mapsMidExchange(sim::VirtualHub& hub, const Lines& args, testsupport::ProcessResult& result) {
    hub.pushFault({sim::Fault::Kind::Delay, 300, 0, {}});
    std::string maps;
    testsupport::ProcessOptions options;
    options.timeout = 20s;
    options.alongside = [&](pid_t pid) {
        const auto until = std::chrono::steady_clock::now() + 5s;
        while (hub.bytesExchanged() == 0 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(1ms);
        std::ifstream in("/proc/" + std::to_string(pid) + "/maps");
        std::ostringstream text;
        text << in.rdbuf();
        maps = text.str();
    };
    Lines argv{HUBCTL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    result = testsupport::runProcess(argv, options);
    return maps;
}

TEST(RemoteHub, OnlyAUrlLoadsTheNetworkLibrary) {
    for (const bool remote : {false, true}) {
        sim::VirtualHub hub(recorded(0b0010));
        Ser2netRig rig({{hub.path(), Ser2netAccepter::rfc2217}});
        const std::string port = remote ? rig.url(0) : hub.path();
        SCOPED_TRACE(port);
        testsupport::ProcessResult r;
        const std::string maps = mapsMidExchange(hub, {"/G:" + port}, r);
        EXPECT_EQ(r.out, "On=2 Off=1,3,4\n") << r.err;
        ASSERT_THAT(maps, HasSubstr("hubctl"));  // read while it ran
        EXPECT_EQ(maps.find("libnetline") != std::string::npos, remote);
        EXPECT_EQ(maps.find("libgensio") != std::string::npos, remote);
    }
}

// Linked, no program needs the network: it is loaded when a URL is named.
TEST(RemoteHub, NoProgramLinksTheNetwork) {
    for (const char* program : {HUBCTL_PATH, HUBFLASH_PATH, HUBSIM_PATH}) {
        const auto linked = testsupport::runProcess({"/usr/bin/ldd", program});
        ASSERT_EQ(linked.exitStatus, 0) << program << linked.err;
        EXPECT_THAT(linked.out, ::testing::Not(HasSubstr("gensio"))) << program;
        EXPECT_THAT(linked.out, ::testing::Not(HasSubstr("libcrypto"))) << program;
    }
}

// HUBLINK_NETLINE names the library's file: without a usable one, a URL
// fails as an unreachable port does, with the reason, and local ports work.
TEST(RemoteHub, AMissingOrBrokenNetworkLibraryIsAReasonNotACrash) {
    const std::string notElf = ::testing::TempDir() + "not-a-library.so";
    std::ofstream(notElf) << "no ELF here\n";
    const struct {
        std::string library;
        std::string reason;
    } cases[] = {
        {"/nonexistent/libnetline.so", "No such file"},
        {notElf, "not-a-library.so"},
        {"libc.so.6", "libc.so.6 is not the network line library"},
    };
    sim::VirtualHub hub(recorded(0b0010));
    Ser2netRig rig({{hub.path(), Ser2netAccepter::rfc2217}});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.library);
        const Lines env{"HUBLINK_NETLINE=" + c.library};
        const auto remote = testsupport::runProcess({HUBCTL_PATH, "/G:" + rig.url(0)}, env, 30s);
        EXPECT_EQ(remote.out, "Error Get Port States!\n");
        EXPECT_EQ(remote.exitStatus, 1);
        EXPECT_EQ(remote.signal, 0);
        EXPECT_THAT(remote.err, HasSubstr(rig.url(0) + ": no network line: "));
        EXPECT_THAT(remote.err, HasSubstr(c.reason));
        const auto local = testsupport::runProcess({HUBCTL_PATH, "/G:" + hub.path()}, env, 30s);
        EXPECT_EQ(local.out, "On=2 Off=1,3,4\n");
        EXPECT_EQ(local.err, "");
    }
    EXPECT_EQ(hub.received().size(), std::size(cases) * kQueryV04.size());  // only the local ones
}

// A UID name asks every remote, then queries the hub on a connection of its
// own: one process, several connections, each on an event loop that gensio
// must not have freed under it (it went on using the first one freed).
TEST(RemoteHub, SeveralConnectionsInOneProcessUnderValgrind) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "valgrind cannot run a program built with AddressSanitizer";
#else
    sim::VirtualHub hub(recorded(0b0010));
    Ser2netRig rig({{hub.path(), Ser2netAccepter::rfc2217}});
    Registry registry;
    // Two copies of the C++ runtime (the program's and the network
    // library's) both end in malloc and free: not a mismatch.
    const auto r = testsupport::runProcess(
        {"/usr/bin/valgrind", "-q", "--error-exitcode=99", "--show-mismatched-frees=no", HUBCTL_PATH,
         "/G:UID0123456789AB"},
        {"HUBLINK_REMOTES=" + rig.url(0), "HUBLINK_REGISTRY_ROOT=" + registry.root(),
         "XDG_CONFIG_HOME=" + registry.root() + "/no-config"},
        120s);
    EXPECT_EQ(r.exitStatus, 0) << r.err.substr(0, 4000);
    EXPECT_EQ(r.out, "On=2 Off=1,3,4\n");
    EXPECT_EQ(r.err.substr(0, 4000), "");
#endif
}

// A ser2net port takes one client at a time: the others are turned away (or,
// over TLS, can be taken in and left unanswered) and try again, and the
// connection a command holds keeps its read and its set together.
TEST(RemoteHub, ParallelClientsLoseNoToggle) {
    for (const Ser2netAccepter accepter : {Ser2netAccepter::rfc2217, Ser2netAccepter::rfc2217Tls}) {
        SCOPED_TRACE(int(accepter));
        sim::VirtualHub hub(recorded(0));
        Ser2netRig rig({{hub.path(), accepter}});
        const Lines toggle{HUBCTL_PATH, "/S:" + rig.url(0), "T:1"};
        std::vector<std::future<testsupport::ProcessResult>> runs;
        for (int i = 0; i < 10; ++i) {
            runs.push_back(std::async(std::launch::async, [&] {
                return testsupport::runProcess(toggle, {"HUBLINK_CA=" + rig.caFile()}, 30s);
            }));
        }
        for (auto& r : runs) {
            const testsupport::ProcessResult done = r.get();
            EXPECT_EQ(done.exitStatus, 0) << done.out << done.err;
        }
        EXPECT_EQ(hub.states() & 0xFU, 0U);  // ten toggles
        std::size_t sets = 0;
        for (const std::string& line : hub.received()) sets += line.rfind("SP", 0) == 0;
        EXPECT_EQ(sets, 10U);
    }
}

firmware::Bytes imageFor(std::size_t n) {
    std::mt19937 gen(9);
    firmware::Bytes bytes(n);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(gen());
    const std::string marker = std::string(firmware::kPidMarker) + "\x0A\xB3";
    std::copy(marker.begin(), marker.end(), bytes.begin() + 20);
    bytes[40] = 0xFF;  // telnet's escape byte, twice in a row
    bytes[41] = 0xFF;
    return bytes;
}

// `image` scrambled with the product's key, as a file for hubflash.
std::string scrambledFile(const std::string& name, const firmware::Bytes& image) {
    const std::string file = ::testing::TempDir() + name;
    const firmware::Bytes scrambled = firmware::scramble(image, firmware::defaultKey());
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(scrambled.data()),
                                               std::streamsize(scrambled.size()));
    return file;
}

// With ssl's clientauth, an allowed client certificate does what any client
// does (waiting for a busy export included); no certificate is refused at
// once, with the command's own failure.
TEST(RemoteHub, ClientCertificatesThroughClientAuth) {
    sim::VirtualHub hub(recorded(0));
    testsupport::Ser2netExport tls{hub.path(), Ser2netAccepter::rfc2217Tls};
    tls.clientAuth = true;
    Ser2netRig rig({tls});
    const std::string alice = rig.makeClientCertificate("alice", "alice");
    rig.allowClient("alice", "alice");
    const Lines trusted{"HUBLINK_CA=" + rig.caFile()};
    const Lines allowed{trusted[0], "HUBLINK_CERT=" + alice + ".crt", "HUBLINK_KEY=" + alice + ".key"};
    std::vector<std::future<testsupport::ProcessResult>> runs;
    for (int i = 0; i < 3; ++i)
        runs.push_back(std::async(std::launch::async, [&] {
            return testsupport::runProcess({HUBCTL_PATH, "/S:" + rig.url(0), "T:1"}, allowed, 30s);
        }));
    for (auto& r : runs) {
        const testsupport::ProcessResult done = r.get();
        EXPECT_EQ(done.exitStatus, 0) << done.err;
    }
    EXPECT_EQ(hub.states() & 0xFU, 1U);  // three toggles

    hub.clearReceived();
    const auto start = std::chrono::steady_clock::now();
    const testsupport::ProcessResult refused =
        testsupport::runProcess({HUBCTL_PATH, "/S:" + rig.url(0), "1:2"}, trusted, 30s);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);  // no waiting as for a busy port
    EXPECT_EQ(refused.exitStatus, 1);
    EXPECT_EQ(refused.out, "Query Error!\n");
    EXPECT_THAT(refused.err, HasSubstr("without a certificate"));
    EXPECT_EQ(hub.received(), Lines{});

    const firmware::Bytes image = imageFor(3000);
    const std::string file = scrambledFile("clientauth-update.enc", image);
    const testsupport::ProcessResult flashed =
        testsupport::runProcess({HUBFLASH_PATH, rig.url(0), file}, allowed, 60s);
    EXPECT_EQ(flashed.exitStatus, 0) << flashed.err;
    EXPECT_EQ(hub.flashImage(), image);
}

// 20,000 bytes: more packets than their wire time at 115200 fits into the
// run packet's drain bound, answered at once by the unpaced virtual hub.
TEST(RemoteHub, FirmwareUpdateOnlyWhereBinaryBytesCross) {
    const firmware::Bytes image = imageFor(20000);
    const std::string file = scrambledFile("remote-update.enc", image);
    sim::VirtualHub hub(recorded());
    Ser2netRig rig({{hub.path(), Ser2netAccepter::rfc2217}, {hub.path(), Ser2netAccepter::raw}});
    const testsupport::ProcessResult raw = run(HUBFLASH_PATH, {rig.url(1), file});
    EXPECT_EQ(raw.exitStatus, 5) << raw.err;
    EXPECT_THAT(raw.err, HasSubstr("rfc2217://"));
    EXPECT_EQ(raw.out, "State Error\n");
    EXPECT_EQ(hub.received(), Lines{});  // refused before the hub was asked anything

    // A telnet server that refuses BINARY would turn the loader's CR NUL into CR.
    testsupport::NvtServer nvt;
    const testsupport::ProcessResult refused = run(HUBFLASH_PATH, {nvt.url(), file});
    EXPECT_EQ(refused.exitStatus, 5) << refused.err;
    EXPECT_THAT(refused.err, HasSubstr("BINARY"));
    EXPECT_EQ(refused.out, "State Error\n");
    EXPECT_EQ(nvt.received(), "");  // no "EUFW", nor any hub command

    const testsupport::ProcessResult done = run(HUBFLASH_PATH, {rig.url(0), file});
    EXPECT_EQ(done.exitStatus, 0) << done.out << done.err;
    EXPECT_EQ(hub.flashImage(), image);
    EXPECT_TRUE(hub.loaderLineSettingsOk());
}

}  // namespace
}  // namespace hubtest
