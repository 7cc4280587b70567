// The JSON request reader and reply writer as tables, and the whole request
// path in process with hubs that only record what would be sent: malformed
// requests of any size or shape get an error reply.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json_commands.h"

namespace {

using namespace console::jcmd;

Request req(const std::string& text) { return parseRequest(text).value_or(Request()); }

TEST(JsonRequest, ObjectsMembersAndCommandName) {
    const std::pair<std::string, bool> rows[] = {
        {R"({"CMD":"Q"})", true}, {" {} ", true},      {"\"Q\"", false},
        {"{}{}", false},          {"/**/{}", false},   {R"({"a":1,})", false},
        {"{\"CMD\":\"\xff\"}", false},                 {R"({"a":"\ud800"})", false},
    };
    for (const auto& [text, isObject] : rows) {
        EXPECT_EQ(parseRequest(text).has_value(), isObject) << text;
    }
    EXPECT_EQ(commandName(req(R"({"CMD":"spsf"})")), "SPSF");
    EXPECT_EQ(commandName(req(R"({"CMD":["Q"]})")), "");
    EXPECT_EQ(comOperand(req(R"({"COM":"ttyUSB0"})")), "ttyUSB0");
    EXPECT_EQ(comOperand(req(R"({"COM":"ttyUSB0\u0000x"})")), std::nullopt);
}

TEST(JsonRequest, PasswordRules) {
    const std::string ae3 = "\xC3\xA4\xC3\xA4\xC3\xA4";  // three characters, six bytes
    const struct {
        std::string text, psw, npw;  // value or error text of each reader
    } rows[] = {
        {"{}", "kiwi    ", "Missing New Password!"},
        {R"({"PSW":12,"NPW":12})", "kiwi    ", "Missing New Password!"},
        {R"({"PSW":"","NPW":""})", "Invalid Password!", "Invalid New Password!"},
        {R"({"PSW":"abc","NPW":"12345678"})", "abc     ", "12345678"},
        {R"({"PSW":"123456789","NPW":"123456789"})", "Invalid Password!", "Invalid New Password!"},
        {"{\"PSW\":\"" + ae3 + "\",\"NPW\":\"" + ae3 + "\"}", ae3 + "     ", ae3 + "     "},
        {R"({"PSW":"k\rRH","NPW":"n\nRH"})", "Invalid Password!", "Invalid New Password!"},
    };
    auto shown = [](const ArgResult& r) { return r.ok() ? r.value : r.error; };
    for (const auto& row : rows) {
        EXPECT_EQ(shown(JGet_Password(req(row.text))), row.psw) << row.text;
        EXPECT_EQ(shown(JGet_Passwords(req(row.text))), row.npw) << row.text;
    }
}

TEST(JsonRequest, StatesBeforePasswordAndDescriptionInCharacters) {
    const std::pair<std::string, std::string> states[] = {
        {R"({"PSW":""})", "Invalid Port State!"},
        {R"({"STATES":"f4, ff, ff, ff","PSW":""})", "Invalid Password!"},
        {R"({"STATES":"F4,FF,FF","PSW":""})", "Incorrect Port State!"},
    };
    for (const auto& [text, error] : states) EXPECT_EQ(JGet_Cmd_Args(req(text)).error, error);
    const CmdArgs args = JGet_Cmd_Args(req(R"({"STATES":"f4, ff, ff, ff","PSW":"abc"})"));
    EXPECT_EQ(args.error + "|" + args.states8 + "|" + args.pw8, "|F4FFFFFF|abc     ");

    std::string e50;
    for (int i = 0; i < 50; ++i) e50 += "\xC3\xA9";
    EXPECT_EQ(JGet_Description(req("{\"DESC\":\"" + e50 + "\"}")).value, e50);
    EXPECT_EQ(JGet_Description(req("{\"DESC\":\"" + e50 + "x\"}")).error,
              "Error: String cannot exceed 50 characters!");
    EXPECT_EQ(JGet_Description(req(R"({"DESC":"x\rRDkiwi    "})")).error,
              "Error Writing Description String!");
}

TEST(JsonReply, SlashesEscapedOnlyInsideStrings) {
    const std::pair<std::string, std::string> rows[] = {
        {R"({"a\"/":"\\/"})", R"({"a\"\/":"\\\/"})"},
        {R"(["\\",1,"/"])", R"(["\\",1,"\/"])"},
        {R"({"a":"\/"})", R"({"a":"\/"})"},
    };
    for (const auto& [in, out] : rows) EXPECT_EQ(escapeSlashes(in), out);
    const Reply tricky = {{"RES", "a\\/\"/b//\\"}, {"x", {"/", "\\", "\"/"}}};
    EXPECT_EQ(Reply::parse(escapeSlashes(tricky.dump())), tricky);
}

TEST(JsonReply, CompactPrettyAndFailureTexts) {
    Reply reply = resReply("OK");
    reply["INFO"] = Reply::array();
    EXPECT_EQ(writeReply(reply, {}), "{\"RES\":\"OK\",\"INFO\":[]}\n");
    EXPECT_EQ(writeReply(reply, {Layout::Pretty, OnFailure::Nothing}),
              "{\n  \"RES\": \"OK\",\n  \"INFO\": []\n}\n");

    reply["DESC"] = "bad \xff byte";
    const std::pair<OnFailure, std::string> rows[] = {
        {OnFailure::SerializingLine, "Error serializing JSON.\n"},
        {OnFailure::EncodingLine, "Error encoding JSON to string!\n"},
        {OnFailure::Nothing, ""},
        {OnFailure::FixedRes, "{\"RES\": \"Error serializing JSON\"}\n"},
    };
    for (const auto& [onFailure, text] : rows) {
        EXPECT_EQ(writeReply(reply, {Layout::Pretty, onFailure}), text);
    }
    const std::string converting = writeReply(reply, {Layout::Compact, OnFailure::ConvertingLine});
    EXPECT_TRUE(converting.starts_with("Error converting dictionary to JSON: [json.exception."));
    EXPECT_EQ(converting.find('\n'), converting.size() - 1);
}

// Resolves names as the hub link does with no serial device present and
// records lines instead of sending them.
class RecordingHubs final : public HubAccess {
public:
    struct NoDevices : hublink::DeviceRegistry {
        std::vector<std::string> calloutDevices() const override { return {}; }
    };
    hublink::PortLookup getCOMPort(const std::string& name) override {
        return hublink::getCOMPort(name, NoDevices());
    }
    hublink::PortLookup Get_COM_Port(const std::string& name) override {
        return hublink::Get_COM_Port(name, NoDevices());
    }
    std::vector<hublink::HubInfo> searchHubs() override { return {}; }
    hublink::QueryResult queryHub(const std::string& path) override {
        return {"OK", {{"Port_Name", path}, {"Port_States", "F4,FF,FF,FF"}}};
    }
    hublink::Exchange sendCommand(const std::string&, const std::string& line) override {
        sent.push_back(line);
        return {"OK", "G"};
    }
    hublink::UidReading GetUID_M031(const std::string&) override { return {"OK", "U"}; }
    std::vector<std::string> sent;
};

TEST(JsonDispatch, MalformedRequestsOfAnySizeOrShape) {
    const std::string big(1024 * 1024, 'A');
    const std::pair<std::string, std::string> rows[] = {
        {std::string(100000, '['), "Invalid JSON Arguments!"},
        {"{\"x\":" + std::string(100000, '[') + std::string(100000, ']') + "}",
         "Invalid Command!"},
        {"{\"CMD\":\"" + big + "\"}", "Invalid Command!"},
        {"{\"CMD\":\"" + big, "Invalid JSON Arguments!"},
        {"{\"CMD\":\"Q\",\"X\":\"\xC3" + big + "\"}", "Invalid JSON Arguments!"},
        {R"({"CMD":"SPST","COM":"/dev/hub","STATES":")" + big + "\"}", "Incorrect Port State!"},
        {R"({"CMD":"WDES","COM":"/dev/hub","DESC":")" + big + "\"}",
         "Error: String cannot exceed 50 characters!"},
        {R"({"CMD":"RSHB","COM":"/dev/hub","PSW":")" + big + "\"}", "Invalid Password!"},
        {R"({"CMD":"QH","COM":")" + big + "\"}", "Invalid Serial Port Name!"},
    };
    RecordingHubs hubs;
    for (const auto& [text, res] : rows) {
        const Answer answer = jsonAnswer("/J", text, hubs);
        EXPECT_EQ(answer.reply.value("RES", std::string("(none)")), res) << text.substr(0, 30);
    }
    EXPECT_TRUE(hubs.sent.empty());
}

}  // namespace
