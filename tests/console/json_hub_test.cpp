// hubctl /J run as a process against virtual hubs, one group per command:
// the reply parsed, and the exact protected command lines each hub received.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "process.h"
#include "sim/fake_registry.h"
#include "sim/virtual_hub.h"

namespace {

using nlohmann::json;
using sim::Fault;
using Lines = std::vector<std::string>;

// A registry of our own, so no device of the host is ever asked.
class Registry {
public:
    explicit Registry(const std::string& name = "reg") {
        std::string base = (std::filesystem::temp_directory_path() / "jsonhub.XXXXXX").string();
        if (::mkdtemp(base.data()) == nullptr) throw std::runtime_error("mkdtemp");
        base_ = base;
        fake_ = std::make_unique<sim::FakeRegistry>(base + "/" + name);
    }
    ~Registry() {
        fake_.reset();
        std::filesystem::remove_all(base_);
    }
    sim::FakeRegistry& fake() { return *fake_; }

private:
    std::string base_;
    std::unique_ptr<sim::FakeRegistry> fake_;
};

constexpr const char* kNoDevice = "/dev/no-such-json-hub";

struct Outcome {
    int status = -1;
    std::string out;
};

Outcome hubctl(const std::string& request, Registry& registry, const std::string& word = "/J") {
    const testsupport::ProcessResult r = testsupport::runProcess(
        {HUBCTL_PATH, word, request}, {"HUBLINK_REGISTRY_ROOT=" + registry.fake().root()});
    return {r.exitStatus, r.out};
}

// `request` with "@hub" replaced by the hub's device path.
std::string atHub(std::string request, const std::string& path) {
    if (const auto at = request.find("@hub"); at != std::string::npos) request.replace(at, 4, path);
    return request;
}

std::string res(const std::string& text) { return json{{"RES", text}}.dump(); }

// What the hub got apart from the queries that only read it.
Lines protectedLines(const Lines& received) {
    Lines out;
    for (const std::string& line : received) {
        if (line != "?Q\r" && line != "E?Q2\r" && line != "GP\r") out.push_back(line);
    }
    return out;
}

Fault raw(const std::string& bytes) { return {Fault::Kind::Raw, 0, 0, bytes}; }
const Fault kSilent{Fault::Kind::Silent, 0, 0, {}};
// A set command is preceded by the three replies of the hub query.
std::vector<Fault> afterQuery(const Fault& fault) {
    const Fault normal{Fault::Kind::Delay, 0, 0, {}};
    return {normal, normal, normal, fault};
}

struct Case {
    std::string request;  // "@hub" stands for the hub's device path
    std::string reply;    // expected reply object
    Lines sent;           // expected protected lines
    std::vector<Fault> faults = {};
    sim::HubConfig hub = {};
};

void runCases(const std::vector<Case>& cases) {
    Registry registry;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        sim::VirtualHub hub(c.hub);
        for (const Fault& fault : c.faults) hub.pushFault(fault);
        const Outcome run = hubctl(atHub(c.request, hub.path()), registry);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;  // compact
        EXPECT_EQ(json::parse(run.out, nullptr, false), json::parse(c.reply)) << run.out;
        EXPECT_EQ(protectedLines(hub.received()), c.sent);
    }
}

json record(const std::string& path, const std::string& ports, const std::string& fw,
            const std::string& uid, const std::string& desc, const std::string& states) {
    return {{"Port_Name", path}, {"PID", "M031"},  {"nPorts", ports},        {"FW_Ver", fw},
            {"UID", uid},        {"Description", desc}, {"Port_States", states}};
}

bool everySlashEscaped(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '/' && (i == 0 || text[i - 1] != '\\')) return false;
    }
    return true;
}

TEST(JsonDispatch, RefusalsAreCompactErrorReplies) {
    const std::string invalidJson = "{\"RES\":\"Invalid JSON Arguments!\"}\n";
    const std::string invalidCommand = "{\"RES\":\"Invalid Command!\"}\n";
    struct Row {
        std::string word, request, out;
    };
    const std::vector<Row> rows = {
        {"/J", R"({"cmd":"Q"})", invalidCommand},  {"/J", R"({"CMD":"ZZ"})", invalidCommand},
        {"/J", R"({"CMD":7})", invalidCommand},    {"/J:x", R"({"CMD":"Q"})", invalidCommand},
        {"/J", "[1,2]", invalidJson},              {"/J", "{", invalidJson},
        {"/J", "\"Q\"", invalidJson},              {"/J", "{\"CMD\":\"\xff\"}", invalidJson},
        {"/J", std::string(100000, '['), invalidJson},
    };
    Registry registry;
    for (const Row& row : rows) {
        const Outcome run = hubctl(row.request, registry, row.word);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, row.out) << row.request.substr(0, 40);
    }
}

TEST(JsonQuery, AllHubsPrettyInPortOrderWithSlashesEscaped) {
    sim::HubConfig first;
    first.description = "Lab/Bench 1";
    first.states = 0x4;
    sim::HubConfig old;
    old.firmware = "V03";
    old.ports = 7;
    sim::VirtualHub hubA(first), hubB(old);
    Registry registry;
    const std::string pathA = registry.fake().add("ttyUSB0", hubA.path());
    const std::string pathB = registry.fake().add("ttyUSB1", hubB.path());
    registry.fake().add("ttyUSB2", kNoDevice);  // no hub there: left out

    const Outcome run = hubctl(R"({"CMD":"q","COM":7})", registry);
    EXPECT_EQ(run.status, 0);
    const json want = {{"RES", "OK"}, {"HUBS", "2"},
                       {"INFO",
                        {record(pathA, "04", "V04", "0123456789AB", "Lab/Bench 1", "F4,FF,FF,FF"),
                         record(pathB, "07", "V03", "", "", "80,FF,FF,FF")}}};
    EXPECT_EQ(json::parse(run.out, nullptr, false), want) << run.out;
    EXPECT_TRUE(run.out.starts_with("{\n  \"RES\": \"OK\",\n")) << run.out;
    EXPECT_NE(run.out.find("Lab\\/Bench 1"), std::string::npos);
    EXPECT_TRUE(everySlashEscaped(run.out)) << run.out;

    Registry none;
    const Outcome empty = hubctl(R"({"CMD":"Q"})", none);
    EXPECT_EQ(json::parse(empty.out, nullptr, false),
              (json{{"RES", "OK"}, {"HUBS", "0"}, {"INFO", json::array()}}));
}

TEST(JsonQuery, OneHubByPathOrUid) {
    sim::VirtualHub hub;
    Registry registry;
    const std::string listed = registry.fake().add("ttyUSB0", hub.path());
    const std::pair<std::string, std::string> requests[] = {
        {R"({"CMD":"QH","COM":"@hub"})", hub.path()},
        {R"({"CMD":"qh","COM":"uid0123456789ab"})", listed},
    };
    for (const auto& [request, path] : requests) {
        const Outcome run = hubctl(atHub(request, hub.path()), registry);
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(run.out.starts_with("{\n  \"RES\": \"OK\",\n")) << run.out;
        EXPECT_EQ(json::parse(run.out, nullptr, false),
                  (json{{"RES", "OK"},
                        {"INFO", record(path, "04", "V04", "0123456789AB", "Virtual Hub",
                                        "F0,FF,FF,FF")}}));
    }
}

TEST(JsonQuery, OneHubRefusals) {
    runCases({
        {R"({"CMD":"QH"})", res("Invalid Serial Port Name!"), {}},
        {R"({"CMD":"QH","COM":5})", res("Invalid Serial Port Name!"), {}},
        {R"({"CMD":"QH","COM":"UID000000000000"})", res("Invalid Serial Port Name!"), {}},
        {R"({"CMD":"QH","COM":")" + std::string(kNoDevice) + "\"}", res("Query Hub Error!"), {}},
    });
}

// A port path that is not UTF-8 cannot be written as JSON.
TEST(JsonQuery, UnserializableRecordPrintsPlainLine) {
    sim::VirtualHub hub;
    Registry registry("reg\xff");
    registry.fake().add("ttyUSB0", hub.path());
    for (const char* request : {R"({"CMD":"Q"})", R"({"CMD":"QH","COM":"UID0123456789AB"})"}) {
        const Outcome run = hubctl(request, registry);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, "Error serializing JSON.\n");
    }
}

TEST(JsonSetPortState, StatesSentAsGivenAfterTheQuery) {
    const std::string ok = res("OK");
    sim::HubConfig abc;
    abc.password = "abc     ";
    runCases({
        {R"({"CMD":"SPST","COM":"@hub","STATES":"F4,FF,FF,FF"})", ok, {"SPkiwi    F4FFFFFF\r"}},
        {R"({"CMD":"spsf","COM":"@hub","STATES":"f4ffffff","PSW":"abc"})", ok,
         {"FPabc     F4FFFFFF\r"}, {}, abc},
        {R"({"CMD":"SPST","COM":"@hub","STATES":" 04, 00 ,00,00","PSW":12})", ok,
         {"SPkiwi    04000000\r"}},
        {R"({"CMD":"SPST","COM":"@hub","STATES":"F4,FF,FF,FF","PSW":"wrong"})",
         res("Password Error!"), {"SPwrong   F4FFFFFF\r"}},
        {R"({"CMD":"SPST","COM":"@hub","STATES":"F4FFFFFF"})", res("Set Port State: Failed!"),
         {"SPkiwi    F4FFFFFF\r"}, afterQuery(raw("GF0FFFFFF\n"))},
        {R"({"CMD":"SPSF","COM":"@hub","STATES":"F4FFFFFF"})", res("No"),
         {"FPkiwi    F4FFFFFF\r"}, afterQuery(kSilent)},
    });
}

TEST(JsonSetPortState, RefusedBeforeAnythingIsSent) {
    runCases({
        {R"({"CMD":"SPST","STATES":"F4,FF,FF,FF"})", res("Invalid Serial Port Name!"), {}},
        {R"({"CMD":"SPSF","COM":[],"STATES":"x"})", res("Invalid Serial Port Name!"), {}},
        {R"({"CMD":"SPST","COM":")" + std::string(kNoDevice) + "\"}", res("Set Port State Error!"),
         {}},
        {R"({"CMD":"SPST","COM":"@hub","PSW":""})", res("Invalid Port State!"), {}},
        {R"({"CMD":"SPST","COM":"@hub","STATES":5})", res("Invalid Port State!"), {}},
        {R"({"CMD":"SPST","COM":"@hub","STATES":"F4,FF,FF","PSW":""})",
         res("Incorrect Port State!"), {}},
        {R"({"CMD":"SPSF","COM":"@hub","STATES":"F4FFFFFF","PSW":""})", res("Invalid Password!"),
         {}},
    });
}

TEST(JsonChangePassword, OldThenNewPassword) {
    runCases({
        {R"({"CMD":"CPSW","COM":"@hub","NPW":"new"})", res("OK"), {"CPkiwi    new     \r"}},
        {R"({"CMD":"CPSW","COM":"@hub","PSW":"bad","NPW":"12345678"})", res("Password Error!"),
         {"CPbad     12345678\r"}},
        {R"({"CMD":"CPSW","COM":"@hub","NPW":"n"})", res("Change Password Failed!"),
         {"CPkiwi    n       \r"}, {raw("X\n")}},
        {R"({"CMD":"CPSW","COM":"@hub","NPW":"n"})", res("No"), {"CPkiwi    n       \r"},
         {kSilent}},
        {R"({"CMD":"CPSW","NPW":"n"})", res("Invalid Serial Port!"), {}},
        {R"({"CMD":"CPSW","COM":"UID000000000000","NPW":"n"})", res("Invalid Serial Port!"), {}},
        {R"({"CMD":"CPSW","COM":"@hub","PSW":""})", res("Invalid Password!"), {}},
        {R"({"CMD":"CPSW","COM":"@hub","NPW":7})", res("Missing New Password!"), {}},
        {R"({"CMD":"CPSW","COM":"@hub","NPW":""})", res("Invalid New Password!"), {}},
    });
}

TEST(JsonGetPortState, HubStateTextWithCommas) {
    sim::HubConfig hub;
    hub.states = 0x4;
    sim::VirtualHub one(hub);
    Registry registry;
    const Outcome run = hubctl(R"({"CMD":"GPST","COM":")" + one.path() + "\"}", registry);
    EXPECT_EQ(run.out, "{\"RES\":\"OK\",\"STATES\":\"F4,FF,FF,FF\"}\n");
    runCases({
        {R"({"CMD":"GPST"})", res("Invalid Serial Port Name!"), {}},
        {R"({"CMD":"GPST","COM":")" + std::string(kNoDevice) + "\"}", res("Get Port State Error!"),
         {}},
    });
}

TEST(JsonSaveRestoreReset, PasswordOnlyCommands) {
    const std::string ok = res("OK");
    runCases({
        {R"({"CMD":"SVPS","COM":"@hub"})", ok, {"WPkiwi    \r"}},
        {R"({"CMD":"SVPS","COM":"@hub","PSW":"bad"})", res("Password Error!"), {"WPbad     \r"}},
        {R"({"CMD":"SVPS","COM":"@hub"})", res("Error Saving Port States!"), {"WPkiwi    \r"},
         {raw("X\n")}},
        {R"({"CMD":"SVPS","COM":"@hub"})", res("No"), {"WPkiwi    \r"}, {kSilent}},
        {R"({"CMD":"RSDF","COM":"@hub","PSW":[]})", ok, {"RDkiwi    \r"}},
        {R"({"CMD":"RSDF","COM":"@hub"})", res("Error Restoring Default!"), {"RDkiwi    \r"},
         {raw("X\n")}},
        {R"({"CMD":"RSHB","COM":"@hub"})", ok, {"RHkiwi    \r"}},
        {R"({"CMD":"RSHB","COM":"@hub"})", ok, {"RHkiwi    \r"}, {kSilent}},
        {R"({"CMD":"RSHB","COM":"@hub","PSW":"bad"})", res("Password Error!"), {"RHbad     \r"}},
        {R"({"CMD":"RSDF"})", res("Invalid Serial Port Name!"), {}},
        {R"({"CMD":"RSHB","COM":"@hub","PSW":""})", res("Invalid Password!"), {}},
    });
}

TEST(JsonDescription, ReadFromTheQueryWrittenInCharacters) {
    const std::string fifty(50 * 2, 'x'), accents = [] {
        std::string s;
        for (int i = 0; i < 50; ++i) s += "\xC3\xA9";  // é: 50 characters, 100 bytes
        return s;
    }();
    sim::HubConfig old;
    old.firmware = "V03";
    sim::HubConfig slash;
    slash.description = "Lab/Bench 1";
    runCases({
        {R"({"CMD":"RDES","COM":"@hub"})", R"({"RES":"OK","DESC":"Lab/Bench 1"})", {}, {}, slash},
        {R"({"CMD":"RDES","COM":"@hub"})", R"({"RES":"OK","DESC":""})", {}, {}, old},
        {R"({"CMD":"RDES","COM":")" + std::string(kNoDevice) + "\"}",
         res("Read Description Error!"), {}},
        {R"({"CMD":"WDES","COM":"@hub","DESC":")" + accents + "\"}", res("OK"),
         {"ESDDkiwi    " + accents + "\r"}},
        {R"({"CMD":"WDES","COM":"@hub","DESC":""})", res("OK"), {"ESDDkiwi    \r"}},
        {R"({"CMD":"WDES","COM":"@hub","DESC":")" + accents + "e\"}",
         res("Error: String cannot exceed 50 characters!"), {}},
        {R"({"CMD":"WDES","COM":"@hub","DESC":3})", res("Missing Description String!"), {}},
        {R"({"CMD":"WDES","COM":"@hub","DESC":"x\rRDkiwi    "})",
         res("Error Writing Description String!"), {}},
        {R"({"CMD":"RSDF","COM":"@hub","PSW":"k\rRH"})", res("Invalid Password!"), {}},
        {R"({"CMD":"WDES","COM":"@hub","PSW":""})", res("Invalid Password!"), {}},
        {R"({"CMD":"WDES","COM":"@hub","PSW":"bad","DESC":"d"})", res("Password Error!"),
         {"ESDDbad     d\r"}},
        {R"({"CMD":"WDES","COM":"@hub","DESC":"d"})", res("Error Writing Description String!"),
         {"ESDDkiwi    d\r"}, {raw("X\n")}},
        {R"({"CMD":"WDES","DESC":"d"})", res("Invalid Serial Port Name!"), {}},
    });
    sim::VirtualHub hub(slash);
    Registry registry;
    const Outcome run = hubctl(R"({"CMD":"RDES","COM":")" + hub.path() + "\"}", registry);
    EXPECT_EQ(run.out, "{\"RES\":\"OK\",\"DESC\":\"Lab\\/Bench 1\"}\n");
}

TEST(JsonReadUid, FromTheExtendedIdentify) {
    sim::HubConfig old;
    old.firmware = "V03";
    runCases({
        {R"({"CMD":"RUID","COM":"@hub"})", R"({"RES":"OK","UID":"0123456789AB"})", {}},
        {R"({"CMD":"RUID","COM":"@hub"})", res("Read UID Error!"), {}, {}, old},
        {R"({"CMD":"RUID","COM":null})", res("Invalid Serial Port Name!"), {}},
    });
}

}  // namespace
