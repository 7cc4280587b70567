#include "hublink/protocol.h"

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <cctype>
#include <charconv>

namespace hublink {

namespace {

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Byte offset just past the first `chars` characters of `text`.
std::size_t prefixBytes(std::string_view text, std::size_t chars) {
    std::size_t pos = 0;
    for (std::size_t seen = 0; pos < text.size(); ++pos) {
        if (!isContinuationByte(text[pos]) && seen++ == chars) break;
    }
    return pos;
}

std::string padded(std::string_view text) {
    std::string field(text);
    field.append(kPasswordChars - std::min(kPasswordChars, utf8Length(text)), ' ');
    return field;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::string_view protectedFailureText(Operation op) {
    switch (op) {
        case Operation::SetPortStates:
        case Operation::SetAndSavePortStates: return "Set Port State: Failed!";
        case Operation::SavePortStates: return "Error Saving Port State";
        case Operation::ChangePassword: return "Change Password Failed!";
        case Operation::WriteDescription: return "Error Writing Description String";
        case Operation::RestoreDefaults: return "Error Restoring Factory Default";
        default: return {};
    }
}

bool isStateSet(Operation op) {
    return op == Operation::SetPortStates || op == Operation::SetAndSavePortStates;
}

ConsoleOutcome fail(std::string_view text) { return {false, std::string(text)}; }

ConsoleOutcome resetHubOutcome(const Exchange& exchange) {
    // The hub restarts at once and may never answer: after a command that
    // went out, only a rejected password counts as failure. A command that
    // never reached the hub reset nothing.
    if (!exchange.ok() && !exchange.sent) return fail(exchange.status);
    if (exchange.ok() && classifyReply(exchange.reply) == ReplyClass::PasswordRejected)
        return fail("Password Error!");
    return {true, {}};
}

std::string_view windowRefusedText(Operation op) {
    switch (op) {
        case Operation::ResetHub: return "OK";
        case Operation::WriteDescription: return "I/O Err1";
        case Operation::ChangePassword: return "I/O Error";
        default: return "State Err";
    }
}

std::optional<int> parseInt(std::string_view digits, int base) {
    int value = 0;
    const char* end = digits.data() + digits.size();
    auto [ptr, ec] = std::from_chars(digits.data(), end, value, base);
    if (digits.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

}  // namespace

std::size_t utf8Length(std::string_view text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return !isContinuationByte(c); }));
}

namespace {

// Length of the UTF-8 sequence led by `lead` and the smallest code point it
// may carry (so overlong forms are caught); 0 for a byte that leads nothing.
std::pair<int, char32_t> sequenceOf(unsigned char lead) {
    if (lead < 0x80) return {1, 0};
    if ((lead & 0xE0) == 0xC0) return {2, 0x80};
    if ((lead & 0xF0) == 0xE0) return {3, 0x800};
    if ((lead & 0xF8) == 0xF0) return {4, 0x10000};
    return {0, 0};
}

bool isControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

}  // namespace

bool isSendableText(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const auto [length, least] = sequenceOf(lead);
        if (length == 0 || i + static_cast<std::size_t>(length) > text.size()) return false;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((next & 0xC0) != 0x80) return false;
            c = (c << 6) | (next & 0x3F);
        }
        if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) || isControl(c)) return false;
        i += static_cast<std::size_t>(length);
    }
    return true;
}

std::optional<std::string> consolePasswordField(std::string_view password) {
    const std::size_t chars = utf8Length(password);
    if (chars == 0 || chars > kPasswordChars || !isSendableText(password)) return std::nullopt;
    return padded(password);
}

std::string windowPasswordField(std::string_view typed) {
    return padded(typed.substr(0, prefixBytes(typed, kPasswordChars)));
}

std::optional<std::string> environmentPassword() {
    const char* value = std::getenv("HUBLINK_PASSWORD");
    if (value == nullptr || *value == '\0') return std::nullopt;
    return std::string(value);
}

std::optional<std::string> consoleUnstatedPassword() {
    const auto given = environmentPassword();
    return given ? consolePasswordField(*given) : std::string(kDefaultPassword);
}

std::string windowUnstatedPassword() {
    const auto given = environmentPassword();
    return given ? windowPasswordField(*given) : std::string(kDefaultPassword);
}

std::string commandLine(std::string_view code, std::string_view field1, std::string_view field2) {
    std::string line;
    line.reserve(code.size() + field1.size() + field2.size() + 1);
    line.append(code).append(field1).append(field2).push_back(kCR);
    return line;
}

std::string identifyCommand() { return commandLine("?Q"); }
std::string extendedIdentifyCommand() { return commandLine("E?Q2"); }
std::string getPortStatesCommand() { return commandLine("GP"); }

std::string setPortStatesCommand(std::string_view pw8, std::string_view states8) {
    return commandLine("SP", pw8, states8);
}
std::string setAndSavePortStatesCommand(std::string_view pw8, std::string_view states8) {
    return commandLine("FP", pw8, states8);
}
std::string consoleSavePortStatesCommand(std::string_view pw8) { return commandLine("WP", pw8); }
std::string windowSavePortStatesCommand(std::string_view pw8, std::string_view states8) {
    return commandLine("WP", pw8, states8);
}
std::string changePasswordCommand(std::string_view oldPw8, std::string_view newPw8) {
    return commandLine("CP", oldPw8, newPw8);
}
std::string writeDescriptionCommand(std::string_view pw8, std::string_view text) {
    return commandLine("ESDD", pw8, text);
}
std::string restoreDefaultsCommand(std::string_view pw8) { return commandLine("RD", pw8); }
std::string resetHubCommand(std::string_view pw8) { return commandLine("RH", pw8); }
std::string enterFirmwareUpdateCommand(std::string_view pw8) { return commandLine("EUFW", pw8); }

ReplyClass classifyReply(std::string_view reply) {
    if (startsWith(reply, "E01")) return ReplyClass::PasswordRejected;
    if (startsWith(reply, "G")) return ReplyClass::Accepted;
    return ReplyClass::Refused;
}

ConsoleOutcome consoleOutcome(Operation op, const Exchange& exchange,
                              std::string_view sentStates8) {
    if (op == Operation::ResetHub) return resetHubOutcome(exchange);
    if (!exchange.ok()) return fail(exchange.status);
    const std::string_view failure = protectedFailureText(op);
    if (failure.empty()) return {true, {}};
    switch (classifyReply(exchange.reply)) {
        case ReplyClass::PasswordRejected: return fail("Password Error!");
        case ReplyClass::Refused: return fail(failure);
        case ReplyClass::Accepted: break;
    }
    // The hub echoes the states now in force; anything else means it did
    // not switch what was asked.
    if (isStateSet(op) && !startsWith(std::string_view(exchange.reply).substr(1), sentStates8))
        return fail(failure);
    return {true, {}};
}

WindowOutcome windowOutcome(Operation op, std::string_view reply) {
    const ReplyClass cls = classifyReply(reply);
    if (cls == ReplyClass::Refused) return {cls, std::string(windowRefusedText(op))};
    if (op == Operation::ChangePassword) return {cls, {}};
    return {cls, cls == ReplyClass::Accepted ? "OK" : "Password Err"};
}

ReceiveLimits windowLimits(Operation op) {
    switch (op) {
        case Operation::Identify:
        case Operation::GetPortStates: return kSearchQueryLimits;
        case Operation::ExtendedIdentify: return kExtendedIdentifyLimits;
        case Operation::RestoreDefaults:
        case Operation::ResetHub:
        case Operation::WriteDescription: return kShortReplyLimits;
        default: return kProtectedLimits;
    }
}

std::string_view firmwareField(std::string_view identifyReply) {
    return identifyReply.size() > 12 ? identifyReply.substr(12, 3) : std::string_view{};
}

std::optional<int> consoleFirmwareVersion(std::string_view field) {
    std::string digits;
    std::copy_if(field.begin(), field.end(), std::back_inserter(digits),
                 [](char c) { return c >= '0' && c <= '9'; });
    return parseInt(digits, 16);
}

int windowFirmwareVersion(std::string_view field) {
    if (field.empty()) return 0;
    const std::string_view rest = field.substr(1);
    // from_chars would accept a leading '-'; only plain digits are a version.
    if (!std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    return parseInt(rest, 10).value_or(0);
}

bool hasExtendedIdentify(int firmwareVersion) { return firmwareVersion >= 4; }

bool isLegacyFirmware(std::string_view field) {
    std::string lower(field);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower == "v00" || lower == "v01" || lower == "v02" || lower == "v03";
}

}  // namespace hublink
