// hubctl /J run as a process against virtual hubs, one table per command
// family: the exact compact reply (exit status always 0) and every line each
// hub received.
#include <gtest/gtest.h>

#include "hub_harness.h"

namespace {

using hubtest::after;
using hubtest::kQueryV04;
using hubtest::Lines;
using hubtest::operator+;
using hubtest::raw;
using hubtest::silent;

const std::string kNoDevice = "/dev/no-such-json-hub";

std::string res(const std::string& text) { return "{\"RES\":\"" + text + "\"}\n"; }

// hubctl /J with `request`, whose "@hub" stands for the hub's path.
hubtest::HubCase J(const std::string& request, const std::string& reply, Lines sent = {},
                   std::vector<sim::Fault> faults = {}, sim::HubConfig hub = {}) {
    return {{"/J", request}, reply, 0, std::move(sent), std::move(hub), std::move(faults)};
}

TEST(JsonCommands, DispatchAndQueryRefusals) {
    hubtest::runHubCases({
        J(R"({"cmd":"Q"})", res("Invalid Command!")),
        {{"/J:x", R"({"CMD":"Q"})"}, res("Invalid Command!")},
        J("[1,2]", res("Invalid JSON Arguments!")),
        J("{", res("Invalid JSON Arguments!")),
        J(R"({"CMD":"QH"})", res("Invalid Serial Port Name!")),
        J(R"({"CMD":"QH","COM":"UID000000000000"})", res("Invalid Serial Port Name!")),
        J(R"({"CMD":"QH","COM":")" + kNoDevice + "\"}", res("Query Hub Error!")),
        J(R"({"CMD":"GPST","COM":"@hub"})", R"({"RES":"OK","STATES":"F4,FF,FF,FF"})" "\n",
          kQueryV04, {}, {.states = 0x4}),
        J(R"({"CMD":"GPST","COM":")" + kNoDevice + "\"}", res("Get Port State Error!")),
        J(R"({"CMD":"RUID","COM":"@hub"})", R"({"RES":"OK","UID":"0123456789AB"})" "\n",
          {"E?Q2\r"}),
        J(R"({"CMD":"RUID","COM":"@hub"})", res("Read UID Error!"), {"E?Q2\r"}, {},
          {.firmware = "V03"}),
    });
}

TEST(JsonCommands, SetPortStateSendsTheDigitsAsGiven) {
    const Lines sp = kQueryV04 + Lines{"SPkiwi    F4FFFFFF\r"};
    hubtest::runHubCases({
        J(R"({"CMD":"SPST","COM":"@hub","STATES":"F4,FF,FF,FF"})", res("OK"), sp),
        J(R"({"CMD":"spsf","COM":"@hub","STATES":"f4ffffff","PSW":"abc"})", res("OK"),
          kQueryV04 + Lines{"FPabc     F4FFFFFF\r"}, {}, {.password = "abc     "}),
        J(R"({"CMD":"SPST","COM":"@hub","STATES":" 04, 00 ,00,00","PSW":12})", res("OK"),
          kQueryV04 + Lines{"SPkiwi    04000000\r"}),
        J(R"({"CMD":"SPST","COM":"@hub","STATES":"F4FFFFFF","PSW":"wrong"})",
          res("Password Error!"), kQueryV04 + Lines{"SPwrong   F4FFFFFF\r"}),
        J(R"({"CMD":"SPST","COM":"@hub","STATES":"F4FFFFFF"})", res("Set Port State: Failed!"),
          sp, after(3, raw("GF0FFFFFF\n"))),
        J(R"({"CMD":"SPSF","COM":"@hub","STATES":"F4FFFFFF"})", res("No"),
          kQueryV04 + Lines{"FPkiwi    F4FFFFFF\r"}, after(3, silent())),
        // Refused before anything but the query is sent.
        J(R"({"CMD":"SPST","COM":5,"STATES":"F4FFFFFF"})", res("Invalid Serial Port Name!")),
        J(R"({"CMD":"SPST","COM":")" + kNoDevice + "\"}", res("Set Port State Error!")),
        J(R"({"CMD":"SPST","COM":"@hub","STATES":5})", res("Invalid Port State!"), kQueryV04),
        J(R"({"CMD":"SPST","COM":"@hub","STATES":"F4,FF,FF"})", res("Incorrect Port State!"),
          kQueryV04),
        J(R"({"CMD":"SPSF","COM":"@hub","STATES":"F4FFFFFF","PSW":""})", res("Invalid Password!"),
          kQueryV04),
    });
}

TEST(JsonCommands, PasswordProtectedCommands) {
    hubtest::runHubCases({
        J(R"({"CMD":"CPSW","COM":"@hub","NPW":"new"})", res("OK"), {"CPkiwi    new     \r"}),
        J(R"({"CMD":"CPSW","COM":"@hub","PSW":"bad","NPW":"12345678"})", res("Password Error!"),
          {"CPbad     12345678\r"}),
        J(R"({"CMD":"CPSW","COM":"@hub","NPW":"n"})", res("Change Password Failed!"),
          {"CPkiwi    n       \r"}, {raw("X\n")}),
        J(R"({"CMD":"CPSW","COM":"UID000000000000","NPW":"n"})", res("Invalid Serial Port!")),
        J(R"({"CMD":"CPSW","COM":"@hub","NPW":7})", res("Missing New Password!")),
        J(R"({"CMD":"CPSW","COM":"@hub","NPW":""})", res("Invalid New Password!")),
        J(R"({"CMD":"SVPS","COM":"@hub"})", res("OK"), {"WPkiwi    \r"}),
        J(R"({"CMD":"SVPS","COM":"@hub"})", res("Error Saving Port States!"), {"WPkiwi    \r"},
          {raw("X\n")}),
        J(R"({"CMD":"RSDF","COM":"@hub","PSW":[]})", res("OK"), {"RDkiwi    \r"}),
        J(R"({"CMD":"RSDF","COM":"@hub"})", res("Error Restoring Default!"), {"RDkiwi    \r"},
          {raw("X\n")}),
        J(R"({"CMD":"RSDF"})", res("Invalid Serial Port Name!")),
        J(R"({"CMD":"RSHB","COM":"@hub"})", res("OK"), {"RHkiwi    \r"}, {silent()}),
        J(R"({"CMD":"RSHB","COM":"@hub","PSW":"bad"})", res("Password Error!"), {"RHbad     \r"}),
        J(R"({"CMD":"RSHB","COM":"@hub","PSW":""})", res("Invalid Password!")),
        J(R"({"CMD":"RSHB","COM":")" + kNoDevice + "\"}", res("No")),
    });
}

TEST(JsonCommands, Description) {
    std::string accents;  // 50 characters, 100 bytes
    for (int i = 0; i < 50; ++i) accents += "\xC3\xA9";
    hubtest::runHubCases({
        J(R"({"CMD":"RDES","COM":"@hub"})", R"({"RES":"OK","DESC":"Lab\/Bench 1"})" "\n",
          kQueryV04, {}, {.description = "Lab/Bench 1"}),
        J(R"({"CMD":"RDES","COM":")" + kNoDevice + "\"}", res("Read Description Error!")),
        J(R"({"CMD":"WDES","COM":"@hub","DESC":")" + accents + "\"}", res("OK"),
          {"ESDDkiwi    " + accents + "\r"}),
        J(R"({"CMD":"WDES","COM":"@hub","DESC":""})", res("OK"), {"ESDDkiwi    \r"}),
        J(R"({"CMD":"WDES","COM":"@hub","DESC":")" + accents + "e\"}",
          res("Error: String cannot exceed 50 characters!")),
        J(R"({"CMD":"WDES","COM":"@hub","DESC":3})", res("Missing Description String!")),
        J(R"({"CMD":"WDES","COM":"@hub","DESC":"d"})", res("Error Writing Description String!"),
          {"ESDDkiwi    d\r"}, {raw("X\n")}),
        // Control characters from JSON escapes never reach the hub.
        J(R"({"CMD":"WDES","COM":"@hub","DESC":"a\u0000b"})", res("Error Writing Description String!")),
        J(R"({"CMD":"WDES","COM":"@hub","DESC":"a\u001b[2J"})", res("Error Writing Description String!")),
        J(R"({"CMD":"WDES","COM":"@hub","PSW":"p\u0000w","DESC":"d"})", res("Invalid Password!")),
        J(R"({"CMD":"CPSW","COM":"@hub","NPW":"n\u0085"})", res("Invalid New Password!")),
    });
}

}  // namespace
