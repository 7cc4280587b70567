// Any bytes as the replies a hub gives to identify, extended identify, get
// port states and a protected command, through the readers of hublink and
// portstate, and as the fields of a hub info record. Each reply sits in a
// heap block of its own size, so a read past it is caught. The checks: every
// field read comes from the positions it belongs to, console and window
// readings of the same reply agree, and the record lines carry exactly the
// fields they were built from.
//
// Input: the replies one per line, "identify\nextended\nstates\ncommand",
// then optional lines "nPorts\nPort_States\nUID\nDescription" for a record
// made directly from the input.
#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hublink/discovery.h"
#include "oracle_text.h"
#include "hublink/hub_query.h"
#include "hublink/protocol.h"
#include "portstate/gui_state.h"
#include "portstate/port_state.h"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

constexpr std::string_view kMark = "TAVRIN";

// A copy of one reply in a block exactly its size.
class Reply {
public:
    explicit Reply(std::string_view text) : bytes_(new char[text.size()]), size_(text.size()) {
        std::copy(text.begin(), text.end(), bytes_.get());
    }
    std::string_view view() const { return {bytes_.get(), size_}; }
    bool holds(std::string_view part) const {
        return part.empty() || (part.data() >= bytes_.get() && part.data() + part.size() <= bytes_.get() + size_);
    }

private:
    std::unique_ptr<char[]> bytes_;
    std::size_t size_;
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }


std::string field(const hublink::HubInfo& record, const std::string& key) {
    const auto it = record.find(key);
    return it == record.end() ? std::string() : it->second;
}

// The identify reply's firmware field as both front ends read it.
void checkFirmware(const Reply& identify) {
    const std::string_view id = identify.view();
    const std::string_view fw = hublink::firmwareField(id);
    require(identify.holds(fw));
    require(fw == (id.size() > 12 ? id.substr(12, 3) : std::string_view{}));

    std::string digits;
    for (char c : fw)
        if (isDigit(c)) digits += c;
    const auto console = hublink::consoleFirmwareVersion(fw);
    require(console.has_value() == !digits.empty());
    if (console) {
        int hex = 0;
        for (char c : digits) hex = hex * 16 + (c - '0');
        require(*console == hex);
    }
    // The whole reply as a field: any count of digits, never a wrong value.
    const auto anyLength = hublink::consoleFirmwareVersion(id);
    const auto digitCount = std::count_if(id.begin(), id.end(), isDigit);
    if (anyLength) require(*anyLength >= 0 && digitCount > 0);
    if (digitCount > 0 && digitCount <= 7) require(anyLength.has_value());

    const int window = hublink::windowFirmwareVersion(fw);
    require(window >= 0 && window <= 99);
    // "Vnn": both readings put the hub in the same family.
    if (fw.size() == 3 && !isDigit(fw[0]) && isDigit(fw[1]) && isDigit(fw[2])) {
        require(window == (fw[1] - '0') * 10 + (fw[2] - '0'));
        require(hublink::hasExtendedIdentify(*console) == hublink::hasExtendedIdentify(window));
    }
    if (hublink::isLegacyFirmware(fw))
        require(!hublink::hasExtendedIdentify(window) && !hublink::hasExtendedIdentify(console.value_or(0)));
}

// A UID is exactly positions 15-26 of an "OK" reply that begins with the mark.
std::string checkUid(const Reply& reply) {
    const std::string text(reply.view());
    require(!hublink::uidFromIdentify({"No", text}));
    const auto uid = hublink::uidFromIdentify({"OK", text});
    const bool complete = text.rfind(kMark, 0) == 0 && text.size() >= 27;
    require(uid.has_value() == complete);
    if (!uid) return {};
    require(uid->size() == 12 && *uid == text.substr(15, 12));
    return *uid;
}

// The state reply, read by the console and by the window for every count.
std::optional<std::string> checkStates(const Reply& reply) {
    const std::string_view st = reply.view();
    const auto hubText = portstate::hubStateTextFromReply(st);
    const bool eightHex = st.size() >= 8 && std::all_of(st.begin(), st.begin() + 8, isHex);
    require(hubText.has_value() == eightHex);
    if (hubText) {
        require(hubText->size() == 11 && (*hubText)[2] == ',' && (*hubText)[5] == ',' && (*hubText)[8] == ',');
        require(portstate::compactHubStateText(*hubText) == st.substr(0, 8));
    }
    // The window reads its zero-terminated buffer, LF included.
    std::string buffer(st.substr(0, st.find('\0')));
    buffer += '\n';
    for (std::int64_t n : {0, 1, 4, 7, 8, 9, 16, 31, 32, 33}) {
        const auto gui = portstate::parsePortState(n, buffer.substr(0, 8));
        require(gui.has_value() == (hubText && n >= 1 && n <= 32));
        if (!gui) continue;
        const auto lists = portstate::parsePortStates(n, *hubText);
        std::string on, off;
        for (const auto& p : gui->on) on += (on.empty() ? "" : ",") + p;
        for (const auto& p : gui->off) off += (off.empty() ? "" : ",") + p;
        require(on == (lists.on == "None" ? "" : lists.on) && off == (lists.off == "None" ? "" : lists.off));
    }
    return hubText;
}

// The hub info line: exactly the record's fields, with on and off lists that
// split 1..n between them (ascending, none above 64 on).
void checkInfoLine(const hublink::HubInfo& record, std::optional<std::uint64_t> word) {
    const std::string line = hublink::parseHubInfo(record);
    const auto n = fuzzoracle::readInt(field(record, "nPorts"));
    if (!n) return require(line == "Invalid nPorts");
    const std::string head = field(record, "Port_Name") + ", " + std::to_string(*n) + " ports, On=";
    require(line.rfind(head, 0) == 0);
    const std::size_t offAt = line.find(", Off=", head.size());
    require(offAt != std::string::npos);
    const std::size_t fwAt = line.find(", FW=", offAt);
    require(fwAt != std::string::npos);
    const std::string on = line.substr(head.size(), offAt - head.size());
    const std::string off = line.substr(offAt + 6, fwAt - offAt - 6);
    std::string tail = ", FW=" + field(record, "FW_Ver");
    if (!field(record, "UID").empty())
        tail += ", UID=" + field(record, "UID") + ", Description=" + field(record, "Description");
    require(line == head + on + ", Off=" + off + tail);

    const std::int64_t listed = std::clamp<std::int64_t>(*n, 0, portstate::kMaxListedPorts);
    std::vector<std::int64_t> ports[2];
    for (int k = 0; k < 2; ++k) {
        const std::string& text = k == 0 ? on : off;
        if (text == "None") continue;
        for (std::string_view piece : fuzzoracle::nonEmptyPieces(text)) ports[k].push_back(fuzzoracle::readInt(piece).value_or(-1));
        require(!ports[k].empty() && std::is_sorted(ports[k].begin(), ports[k].end()));
    }
    require(std::int64_t(ports[0].size() + ports[1].size()) == listed);
    std::size_t i = 0, j = 0;
    for (std::int64_t p = 1; p <= listed; ++p) {
        const bool isOn = i < ports[0].size() && ports[0][i] == p;
        require(isOn || (j < ports[1].size() && ports[1][j] == p));
        require(!isOn || p <= 64);
        if (word && p <= 64) require(isOn == (((*word >> (p - 1)) & 1u) != 0));
        if (isOn) ++i;
        else ++j;
    }
}

// The formatted line: the four state pieces most significant first, then the
// count and the fields.
void checkFormattedLine(const hublink::HubInfo& record) {
    const std::string line = hublink::parseHubInfoFormatted(record);
    const auto n = fuzzoracle::readInt(field(record, "nPorts"));
    if (!n) return require(line == "Invalid nPorts");
    const std::string states = field(record, "Port_States");
    const auto pieces = fuzzoracle::nonEmptyPieces(states);
    if (pieces.size() < 4) return require(line == "Invalid Port States");
    const std::string word = std::string(pieces[3]) + std::string(pieces[2]) + std::string(pieces[1]) + std::string(pieces[0]);
    const std::string uid = field(record, "UID");
    char count[32];
    std::snprintf(count, sizeof count, "%02lld", static_cast<long long>(*n));
    if (uid.empty()) return require(line == word + count + field(record, "FW_Ver"));
    require(line == word + "," + std::to_string(*n) + "," + field(record, "FW_Ver") + "," + uid + "," +
                        field(record, "Description"));
}

// The record the console query makes of these replies, from the positions
// the replies are read at.
void checkConsoleRecord(std::string_view id, std::string_view ext, const std::optional<std::string>& hubText) {
    if (id.rfind(kMark, 0) != 0 || id.size() < 15 || !isDigit(id[10]) || !isDigit(id[11]) || !hubText) return;
    const std::string uid = checkUid(Reply(ext));
    hublink::HubInfo record{{"Port_Name", "/dev/ttyUSB0"},       {"PID", std::string(id.substr(6, 4))},
                            {"nPorts", std::string(id.substr(10, 2))}, {"FW_Ver", std::string(id.substr(12, 3))},
                            {"UID", uid},                       {"Port_States", *hubText}};
    record["Description"] = uid.empty() || ext.size() <= 27 ? "" : std::string(ext.substr(27, ext.size() - 28));
    const std::int64_t n = (id[10] - '0') * 10 + (id[11] - '0');
    const auto word = static_cast<std::uint64_t>(portstate::Parse_Port_States_int64(n, *hubText));
    checkInfoLine(record, word);
    checkFormattedLine(record);
    // Two-digit counts come back as they were sent.
    const std::string formatted = hublink::parseHubInfoFormatted(record);
    const std::string_view st = *hubText;
    const std::string msbFirst = std::string(st.substr(9, 2)) + std::string(st.substr(6, 2)) +
                                 std::string(st.substr(3, 2)) + std::string(st.substr(0, 2));
    require(formatted.rfind(msbFirst, 0) == 0);
    if (uid.empty()) require(formatted == msbFirst + std::string(id.substr(10, 5)));
}

// Console and window agree on what a protected command's reply says.
void checkCommandReply(const Reply& reply, const std::optional<std::string>& hubText) {
    const std::string text(reply.view());
    const std::string states8 = hubText ? portstate::compactHubStateText(*hubText) : "F4FFFFFF";
    const auto cls = hublink::classifyReply(text);
    require((cls == hublink::ReplyClass::PasswordRejected) == (text.rfind("E01", 0) == 0));
    require((cls == hublink::ReplyClass::Accepted) == (text.rfind("G", 0) == 0));
    const auto console = hublink::consoleOutcome(hublink::Operation::SetPortStates, {"OK", text}, states8);
    const auto window = hublink::windowOutcome(hublink::Operation::SetPortStates, text);
    require(console.success == (text.rfind("G" + states8, 0) == 0));
    require(!console.success || window.text == "OK");
    require((console.text == "Password Error!") == (window.text == "Password Err"));
    require(hublink::consoleOutcome(hublink::Operation::ResetHub, {"OK", text}).success ==
            (cls != hublink::ReplyClass::PasswordRejected));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start <= input.size() && lines.size() < 8;) {
        std::size_t nl = input.find('\n', start);
        if (nl == std::string_view::npos) nl = input.size();
        lines.push_back(input.substr(start, nl - start));
        start = nl + 1;
    }
    lines.resize(8);
    const Reply identify(lines[0]), extended(lines[1]), states(lines[2]), command(lines[3]);

    checkFirmware(identify);
    checkUid(identify);
    checkUid(extended);
    const auto hubText = checkStates(states);
    checkConsoleRecord(identify.view(), extended.view(), hubText);
    checkCommandReply(command, hubText);

    // A record of any texts; keys absent when their line is.
    hublink::HubInfo record{{"Port_Name", "/dev/x"}, {"FW_Ver", std::string(hublink::firmwareField(lines[0]))}};
    const char* keys[] = {"nPorts", "Port_States", "UID", "Description"};
    for (std::size_t k = 0; k < 4; ++k)
        if (lines[4 + k].data()) record[keys[k]] = std::string(lines[4 + k]);
    checkInfoLine(record, std::nullopt);
    checkFormattedLine(record);
    return 0;
}
