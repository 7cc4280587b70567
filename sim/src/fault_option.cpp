#include "fault_option.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "hub_model.h"

namespace sim {

namespace {

using HubKind = Fault::Kind;
using LoaderKind = LoaderFault::Kind;
using Rest = std::optional<std::string_view>;  // what follows a colon; none: no colon

enum class Takes { Nothing, Number, OptionalNumber, Text };

struct Fields {
    std::string command;
    std::int64_t n = 0;
    std::string text;
};

struct KindRule {
    std::string_view name;
    std::string_view form;  // as --help shows it; its last field names N
    bool loader;
    Takes takes;
    std::int64_t low, high, fallback;
    AnyFault (*make)(const Fields&);
};

constexpr std::int64_t kMaxMillis = 60000;
constexpr std::int64_t kMaxPacket = 0xFFFFFFFF;
constexpr std::int64_t kMaxLines = 1000000;
constexpr std::size_t kMaxText = 255;

Fault hubFault(HubKind kind, const Fields& f, int millis = 0, int count = 0) {
    Fault fault;
    fault.kind = kind;
    fault.millis = millis;
    fault.count = count;
    fault.command = f.command;
    return fault;
}

AnyFault loaderAt(LoaderKind kind, const Fields& f) {
    return LoaderFault{kind, std::uint32_t(f.n), 0, 0};
}

const std::vector<KindRule>& kindRules() {
    using T = Takes;
    static const std::vector<KindRule> rules = {
        {"silent", "silent[:COMMAND]", false, T::Nothing, 0, 0, 0,
         [](const Fields& f) -> AnyFault { return hubFault(HubKind::Silent, f); }},
        {"late", "late[:COMMAND]:MS", false, T::Number, 0, kMaxMillis, 0,
         [](const Fields& f) -> AnyFault { return hubFault(HubKind::Delay, f, int(f.n)); }},
        {"split", "split[:COMMAND][:N]", false, T::OptionalNumber, 1, 255, 1,
         [](const Fields& f) -> AnyFault {
             return hubFault(HubKind::Split, f, kSplitGapMillis, int(f.n));
         }},
        {"truncate", "truncate[:COMMAND]:N", false, T::Number, 0, 255, 0,
         [](const Fields& f) -> AnyFault { return hubFault(HubKind::Truncate, f, 0, int(f.n)); }},
        {"garble", "garble[:COMMAND]", false, T::Nothing, 0, 0, 0,
         [](const Fields& f) -> AnyFault { return hubFault(HubKind::Garble, f); }},
        {"high-bytes", "high-bytes[:COMMAND]", false, T::Nothing, 0, 0, 0,
         [](const Fields& f) -> AnyFault { return hubFault(HubKind::HighBytes, f); }},
        {"reply", "reply[:COMMAND]:TEXT", false, T::Text, 0, 0, 0,
         [](const Fields& f) -> AnyFault {
             Fault fault = hubFault(HubKind::Raw, f);
             fault.raw = f.text + "\n";
             return fault;
         }},
        {"vanish", "vanish[:COMMAND]", false, T::Nothing, 0, 0, 0,
         [](const Fields& f) -> AnyFault { return hubFault(HubKind::Vanish, f); }},
        {"vanish-after", "vanish-after[:COMMAND]:N", false, T::Number, 0, kMaxLines, 0,
         [](const Fields& f) -> AnyFault {
             Fault fault = hubFault(HubKind::Vanish, f);
             fault.after = int(f.n);
             return fault;
         }},
        {"loader-silent", "loader-silent", true, T::Nothing, 0, 0, 0,
         [](const Fields&) -> AnyFault { return LoaderFault{LoaderKind::Silent, 0, 0, 0}; }},
        {"loader-ignore-connects", "loader-ignore-connects:N", true, T::Number, 1, 1000, 0,
         [](const Fields& f) -> AnyFault {
             return LoaderFault{LoaderKind::AnswerAfterConnects, 0, int(f.n), 0};
         }},
        {"loader-drop", "loader-drop:K", true, T::Number, 0, kMaxPacket, 0,
         [](const Fields& f) { return loaderAt(LoaderKind::DropReply, f); }},
        {"loader-checksum", "loader-checksum:K", true, T::Number, 0, kMaxPacket, 0,
         [](const Fields& f) { return loaderAt(LoaderKind::WrongChecksum, f); }},
        {"loader-number", "loader-number:K", true, T::Number, 0, kMaxPacket, 0,
         [](const Fields& f) { return loaderAt(LoaderKind::WrongNumber, f); }},
        {"loader-split", "loader-split:K", true, T::Number, 0, kMaxPacket, 0,
         [](const Fields& f) -> AnyFault {
             return LoaderFault{LoaderKind::SplitReply, std::uint32_t(f.n), kLoaderSplitBytes,
                                kLoaderSplitMillis};
         }},
        {"loader-slow-erase", "loader-slow-erase:MS", true, T::Number, 0, kMaxMillis, 0,
         [](const Fields& f) -> AnyFault {
             return LoaderFault{LoaderKind::SlowErase, 0, 0, int(f.n)};
         }},
        {"loader-corrupt", "loader-corrupt:K", true, T::Number, 0, kMaxPacket, 0,
         [](const Fields& f) { return loaderAt(LoaderKind::CorruptWrite, f); }},
        {"loader-image-checksum", "loader-image-checksum", true, T::Nothing, 0, 0, 0,
         [](const Fields&) -> AnyFault {
             return LoaderFault{LoaderKind::WrongImageChecksum, 0, 0, 0};
         }},
    };
    return rules;
}

const KindRule* findKind(std::string_view name) {
    for (const KindRule& rule : kindRules())
        if (rule.name == name) return &rule;
    return nullptr;
}

// The placeholder of N in a kind's form: "MS", "N", "K" or "TEXT".
std::string unitOf(const KindRule& rule) {
    std::string_view last = rule.form.substr(rule.form.rfind(':') + 1);
    if (last.ends_with(']')) last.remove_suffix(1);
    return std::string(last);
}

bool isDigits(std::string_view field) {
    return !field.empty() && field.size() <= 10 &&
           std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string commandList() {
    std::string list;
    for (std::string_view code : HubModel::commandCodes())
        list += (list.empty() ? "" : " ") + std::string(code);
    return list;
}

// Why `field`, standing where a COMMAND may, is refused; empty when it may
// be the kind's N or TEXT instead.
std::string misplaced(const KindRule& rule, std::string_view field, bool last) {
    if (rule.loader || rule.takes == Takes::Text || isDigits(field)) return {};
    const std::string quoted = "'" + std::string(field) + "'";
    if (last && rule.takes != Takes::Nothing) return quoted + " is neither a hub command nor a number";
    return quoted + " is no hub command (" + commandList() + ")";
}

// Takes a COMMAND from the front of `rest` when the first field is one.
std::string takeCommand(const KindRule& rule, Rest& rest, Fields& fields) {
    if (!rest) return {};
    const std::size_t colon = rest->find(':');
    const std::string_view field = rest->substr(0, colon);
    if (!HubModel::isCommand(field)) return misplaced(rule, field, colon == std::string_view::npos);
    if (rule.loader) return "a loader fault names no command";
    fields.command = field;
    rest = colon == std::string_view::npos ? Rest() : Rest(rest->substr(colon + 1));
    return {};
}

std::string takeNumber(const KindRule& rule, std::string_view field, Fields& fields) {
    std::int64_t n = -1;
    if (isDigits(field)) std::from_chars(field.data(), field.data() + field.size(), n);
    if (n >= rule.low && n <= rule.high) {
        fields.n = n;
        return {};
    }
    return unitOf(rule) + " wants a number from " + std::to_string(rule.low) + " to " +
           std::to_string(rule.high);
}

std::string takeText(std::string_view text, Fields& fields) {
    if (text.size() > kMaxText || text.find_first_of("\r\n") != std::string_view::npos)
        return "TEXT wants one line of at most " + std::to_string(kMaxText) + " bytes";
    fields.text = text;
    return {};
}

// Takes what follows the command: nothing, N or TEXT, as the kind wants.
std::string takeValue(const KindRule& rule, const Rest& rest, Fields& fields) {
    if (rule.takes == Takes::OptionalNumber && !rest) {
        fields.n = rule.fallback;
        return {};
    }
    if (rule.takes == Takes::Nothing) return rest ? std::string(rule.name) + " takes no value" : "";
    if (!rest) return unitOf(rule) + " is missing";
    if (rule.takes == Takes::Text) return takeText(*rest, fields);
    return takeNumber(rule, *rest, fields);
}

ParsedFault failure(std::string_view option, const std::string& why, const KindRule* rule) {
    std::string error = "--fault " + std::string(option) + ": " + why;
    if (rule) error += "; the form is " + std::string(rule->form);
    return {std::nullopt, error};
}

}  // namespace

ParsedFault parseFaultOption(std::string_view option) {
    const std::size_t colon = option.find(':');
    const std::string_view kind = option.substr(0, colon);
    const KindRule* rule = findKind(kind);
    if (rule == nullptr) {
        const std::string why = "no fault is called '" + std::string(kind) + "' (see hubsim --help)";
        return failure(option, why, nullptr);
    }
    Rest rest = colon == std::string_view::npos ? Rest() : Rest(option.substr(colon + 1));
    Fields fields;
    std::string error = takeCommand(*rule, rest, fields);
    if (error.empty()) error = takeValue(*rule, rest, fields);
    if (!error.empty()) return failure(option, error, rule);
    return {rule->make(fields), {}};
}

std::vector<std::string_view> faultKindNames() {
    std::vector<std::string_view> names;
    for (const KindRule& rule : kindRules()) names.push_back(rule.name);
    return names;
}

}  // namespace sim
