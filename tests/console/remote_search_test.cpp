// hubctl's searches over configured hubs on other hosts (a real ser2net on
// loopback): the order of the lists, UID names, bad entries, and a search
// over silent remotes that takes one timeout, not one per remote.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "hub_harness.h"
#include "process.h"
#include "ser2net_rig.h"

namespace hubtest {
namespace {

using testsupport::Ser2netRig;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

sim::HubConfig hubConfig(const std::string& uid, const std::string& description, std::uint32_t states) {
    sim::HubConfig config;
    config.record = true;
    config.uid = uid;
    config.description = description;
    config.states = states;
    return config;
}

std::string infoLine(const std::string& port, const std::string& uid, const std::string& description,
                     const std::string& on, const std::string& off) {
    return port + ", 4 ports, On=" + on + ", Off=" + off + ", FW=V04, UID=" + uid +
           ", Description=" + description + "\n";
}

std::string jsonEscaped(std::string text) {
    for (std::size_t at = 0; (at = text.find('/', at)) != std::string::npos; at += 2) text.insert(at, "\\");
    return text;
}

// A local hub listed in the registry and two hubs behind ser2net, none of the
// environment's own remotes configuration leaking in.
class RemoteSearch : public ::testing::Test {
protected:
    RemoteSearch()
        : local(hubConfig("LOCAL0000001", "Local", 0b0001)),
          first(hubConfig("REMOTE000001", "First", 0b0010)),
          second(hubConfig("REMOTE000002", "Second", 0b0100)),
          rig({{first.path()}, {second.path()}}) {
        localPath = registry.add("ttyUSB0", local.path());
        ::unsetenv("HUBLINK_REMOTES");
    }

    testsupport::ProcessResult hubctl(const Lines& args, const std::vector<std::string>& env) const {
        Lines argv{HUBCTL_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<std::string> all = env;
        all.push_back("HUBLINK_REGISTRY_ROOT=" + registry.root());
        all.push_back("XDG_CONFIG_HOME=" + registry.root() + "/no-config");
        return testsupport::runProcess(argv, all, 30s);
    }
    // The two remotes listed second before first: the configured order, not
    // the servers' order, is the order of the search.
    std::string remotes() const { return rig.url(1) + " " + rig.url(0); }

    Registry registry;
    sim::VirtualHub local, first, second;
    Ser2netRig rig;
    std::string localPath;
};

TEST_F(RemoteSearch, QueryListsLocalHubsThenRemotesInConfiguredOrder) {
    const std::string expected = infoLine(localPath, "LOCAL0000001", "Local", "1", "2,3,4") +
                                 infoLine(rig.url(1), "REMOTE000002", "Second", "3", "1,2,4") +
                                 infoLine(rig.url(0), "REMOTE000001", "First", "2", "1,3,4") +
                                 "3 Managed USB Hub(s) Found.\n";
    const auto plain = hubctl({"/Q"}, {"HUBLINK_REMOTES=" + remotes()});
    EXPECT_EQ(plain.exitStatus, 0) << plain.err;
    EXPECT_EQ(plain.out, expected);
    EXPECT_EQ(plain.err, "");

    const auto compact = hubctl({"/Q", "-F"}, {"HUBLINK_REMOTES=" + remotes()});
    EXPECT_EQ(compact.out, "0003," + localPath + "," + rig.url(1) + "," + rig.url(0) + "\n");

    const auto json = hubctl({"/J", R"({"CMD":"Q"})"}, {"HUBLINK_REMOTES=" + remotes()});
    EXPECT_EQ(json.exitStatus, 0) << json.err;
    EXPECT_THAT(json.out, HasSubstr(R"("HUBS": "3")"));
    const std::size_t localAt = json.out.find("\"Port_Name\": \"" + jsonEscaped(localPath) + "\"");
    const std::size_t secondAt = json.out.find("\"Port_Name\": \"" + jsonEscaped(rig.url(1)) + "\"");
    const std::size_t firstAt = json.out.find("\"Port_Name\": \"" + jsonEscaped(rig.url(0)) + "\"");
    ASSERT_NE(firstAt, std::string::npos) << json.out;
    EXPECT_LT(localAt, secondAt);
    EXPECT_LT(secondAt, firstAt);
}

TEST_F(RemoteSearch, RemotesFileServesWhenTheVariableIsUnsetAndAnEmptyVariableTurnsItOff) {
    const std::string dir = registry.root() + "/config";
    std::filesystem::create_directories(dir + "/hubtools");
    std::ofstream(dir + "/hubtools/remotes") << "# bench\n" << rig.url(0) << "\n\n" << rig.url(0) << "\n";
    const auto fromFile = hubctl({"/Q", "-F"}, {"XDG_CONFIG_HOME=" + dir});
    EXPECT_EQ(fromFile.out, "0002," + localPath + "," + rig.url(0) + "\n");  // the repeat asked once
    const auto off = hubctl({"/Q", "-F"}, {"XDG_CONFIG_HOME=" + dir, "HUBLINK_REMOTES="});
    EXPECT_EQ(off.out, "0001," + localPath + "\n");
}

TEST_F(RemoteSearch, UidNamesFindRemoteHubs) {
    const std::vector<std::string> env{"HUBLINK_REMOTES=" + remotes()};
    const auto states = hubctl({"/G:UIDREMOTE000001"}, env);
    EXPECT_EQ(states.exitStatus, 0) << states.err;
    EXPECT_EQ(states.out, "On=2 Off=1,3,4\n");

    const auto query = hubctl({"/Q:uidremote000002"}, env);
    EXPECT_EQ(query.out, infoLine(rig.url(1), "REMOTE000002", "Second", "3", "1,2,4"));

    first.clearReceived();
    const auto write = hubctl({"/X:UIDREMOTE000001", "kiwi", "Renamed"}, env);
    EXPECT_EQ(write.exitStatus, 0) << write.out << write.err;
    EXPECT_EQ(first.description(), "Renamed");
    EXPECT_EQ(second.description(), "Second");
}

TEST_F(RemoteSearch, MalformedEntriesAreToldOnceAndSkipped) {
    const std::string value = "rfc2217://127.0.0.1:70000 " + rig.url(0) + " tcp://[::1 " + rig.url(0);
    const auto r = hubctl({"/Q", "-F"}, {"HUBLINK_REMOTES=" + value});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "0002," + localPath + "," + rig.url(0) + "\n");
    EXPECT_EQ(r.err,
              "hubctl: HUBLINK_REMOTES: skipped 'rfc2217://127.0.0.1:70000': port 70000 is out of 1..65535\n"
              "hubctl: HUBLINK_REMOTES: skipped 'tcp://[::1': unbalanced brackets: '[' without ']'\n");
}

// Eight remotes, six of them in front of hubs that never answer: they are
// asked together with the others, so the search takes about one console
// timeout (1 s), not six.
TEST_F(RemoteSearch, SilentRemotesCostOneTimeoutTogether) {
    std::vector<std::unique_ptr<sim::VirtualHub>> silent;
    std::vector<testsupport::Ser2netExport> exports{{first.path()}, {second.path()}};
    for (int i = 0; i < 6; ++i) {
        silent.push_back(std::make_unique<sim::VirtualHub>(hubConfig("SILENT00000" + std::to_string(i), "S", 0)));
        silent.back()->setPersistentFault(sim::Fault{});  // Silent
        exports.push_back({silent.back()->path()});
    }
    Ser2netRig eight(exports);
    std::string value;
    for (std::size_t i = 0; i < exports.size(); ++i) value += eight.url((i + 2) % exports.size()) + " ";

    const auto start = std::chrono::steady_clock::now();
    const auto r = hubctl({"/Q", "-F"}, {"HUBLINK_REMOTES=" + value});
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("search over 8 remotes (6 silent): %.3f s; one timeout is 1.0 s\n", took.count());

    EXPECT_EQ(r.out, "0003," + localPath + "," + eight.url(0) + "," + eight.url(1) + "\n") << r.err;
    EXPECT_LT(took.count(), 1.6);
    EXPECT_GE(took.count(), 0.9);  // the silent ones were waited for
    for (const auto& hub : silent) EXPECT_EQ(hub->received(), Lines{"?Q\r"});
}

}  // namespace
}  // namespace hubtest
