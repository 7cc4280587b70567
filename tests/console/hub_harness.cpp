#include "hub_harness.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

#include "process.h"

namespace hubtest {

Registry::Registry(const std::string& dir) {
    std::string base = (std::filesystem::temp_directory_path() / "hubctl-test.XXXXXX").string();
    if (::mkdtemp(base.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    base_ = base;
    fake_ = std::make_unique<sim::FakeRegistry>(base_ + "/" + dir);
}

Registry::~Registry() {
    fake_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(base_, ignored);
}

std::string Registry::add(const std::string& ttyName, const std::string& target) {
    return fake_->add(ttyName, target);
}

Run hubctl(const Lines& args, const Registry& registry) {
    Lines argv{HUBCTL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    const testsupport::ProcessResult r =
        testsupport::runProcess(argv, {"HUBLINK_REGISTRY_ROOT=" + registry.root()});
    return {r.timedOut ? -1 : r.exitStatus, r.out};
}

const Lines kQueryV04 = {"?Q\r", "E?Q2\r", "GP\r"};
const Lines kQueryV03 = {"?Q\r", "GP\r"};

Lines operator+(Lines first, const Lines& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

sim::Fault raw(const std::string& bytes) { return {sim::Fault::Kind::Raw, 0, 0, bytes}; }
sim::Fault silent() { return {sim::Fault::Kind::Silent, 0, 0, {}}; }

std::vector<sim::Fault> after(int skipped, const sim::Fault& fault) {
    std::vector<sim::Fault> faults(skipped, sim::Fault{sim::Fault::Kind::Delay, 0, 0, {}});
    faults.push_back(fault);
    return faults;
}

namespace {

std::string atHub(std::string text, const std::string& path) {
    for (auto at = text.find("@hub"); at != std::string::npos; at = text.find("@hub", at))
        text.replace(at, 4, path);
    return text;
}

}  // namespace

void runHubCases(const std::vector<HubCase>& cases) {
    for (const HubCase& c : cases) {
        Registry registry;
        sim::HubConfig config = c.hub;
        config.record = true;
        sim::VirtualHub hub(config);
        if (c.listed) registry.add("ttyUSB0", hub.path());
        for (const sim::Fault& fault : c.faults) hub.pushFault(fault);
        Lines args;
        std::string shown;
        for (const std::string& arg : c.args) {
            args.push_back(atHub(arg, hub.path()));
            shown += " '" + arg.substr(0, 60) + "'";
        }
        SCOPED_TRACE(shown);
        const Run run = hubctl(args, registry);
        EXPECT_EQ(run.out, atHub(c.out, hub.path()));
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(hub.received(), c.sent);
    }
}

}  // namespace hubtest
