#include "portstate/json_state.h"

#include <cstdint>

#include "portstate/int_text.h"

namespace portstate {

namespace {

bool isWhiteCodePoint(std::uint32_t cp) {
    return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
           cp == 0x205F || cp == 0x3000;
}

bool isContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u; }

std::size_t expectedLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// Decodes one UTF-8 sequence; malformed or overlong input yields U+FFFD, never white space.
std::uint32_t decode(std::string_view seq) {
    constexpr std::uint32_t kBad = 0xFFFD;
    const auto lead = static_cast<unsigned char>(seq[0]);
    if (expectedLength(lead) != seq.size()) return kBad;
    if (seq.size() == 1) return lead;
    std::uint32_t cp = lead & (0xFFu >> (seq.size() + 1));
    for (std::size_t i = 1; i < seq.size(); ++i) cp = (cp << 6) | (static_cast<unsigned char>(seq[i]) & 0x3Fu);
    const std::uint32_t minimum = seq.size() == 3 ? 0x800 : seq.size() == 4 ? 0x10000 : 0x80;
    return cp < minimum ? kBad : cp;
}

std::size_t firstCharLength(std::string_view s) {
    std::size_t n = 1;
    while (n < s.size() && n < 4 && isContinuation(s[n])) ++n;
    return n;
}

std::size_t lastCharLength(std::string_view s) {
    std::size_t n = 1;
    while (n < s.size() && n < 4 && isContinuation(s[s.size() - n])) ++n;
    return n;
}

// Trims Unicode white space (clients send non-breaking spaces too) from both ends.
std::string_view trimWhite(std::string_view s) {
    while (!s.empty()) {
        const std::size_t n = firstCharLength(s);
        if (!isWhiteCodePoint(decode(s.substr(0, n)))) break;
        s.remove_prefix(n);
    }
    while (!s.empty()) {
        const std::size_t n = lastCharLength(s);
        if (!isWhiteCodePoint(decode(s.substr(s.size() - n)))) break;
        s.remove_suffix(n);
    }
    return s;
}

std::string upperAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

}  // namespace

bool Validate_8_Hex_String(std::string_view text) { return text.size() == 8 && isHexText(text); }

JsonStatesResult jsonStatesToStates8(const std::optional<std::string>& states) {
    if (!states) return {std::string(kInvalidPortState), {}};
    const std::string upper = upperAscii(*states);
    std::string joined;
    for (std::string_view piece : splitComma(upper, false)) {
        joined += trimWhite(piece);
        if (joined.size() > 8) break;  // already too long; spares work on huge texts
    }
    if (!Validate_8_Hex_String(joined)) return {std::string(kIncorrectPortState), {}};
    return {"OK", joined};
}

}  // namespace portstate
