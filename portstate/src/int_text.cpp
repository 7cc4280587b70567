#include "portstate/int_text.h"

#include <limits>

namespace portstate {

int digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    return -1;
}

bool isHexDigit(char c) {
    const int d = digitValue(c);
    return d >= 0 && d < 16;
}

bool isHexText(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!isHexDigit(c)) return false;
    return true;
}

namespace {

struct Magnitude {
    bool negative = false;
    std::uint64_t value = 0;
};

// Reads sign and digits; stops as soon as the magnitude passes `limit`, so a long
// text never costs more than its own length and never overflows.
std::optional<Magnitude> readMagnitude(std::string_view text, int base, std::uint64_t limit) {
    if (base < 2 || base > 36) return std::nullopt;
    Magnitude m;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        m.negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    const auto b = static_cast<std::uint64_t>(base);
    for (char c : text) {
        const int d = digitValue(c);
        if (d < 0 || d >= base) return std::nullopt;
        const auto du = static_cast<std::uint64_t>(d);
        if (m.value > (limit - du) / b) return std::nullopt;
        m.value = m.value * b + du;
    }
    return m;
}

}  // namespace

std::optional<std::int64_t> parseInt64(std::string_view text, int base) {
    constexpr auto maxPos = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    const auto m = readMagnitude(text, base, maxPos + 1);
    if (!m) return std::nullopt;
    if (!m->negative) {
        if (m->value > maxPos) return std::nullopt;
        return static_cast<std::int64_t>(m->value);
    }
    // Two's complement negation in unsigned arithmetic keeps INT64_MIN representable.
    return static_cast<std::int64_t>(std::uint64_t{0} - m->value);
}

std::optional<std::uint64_t> parseUInt64(std::string_view text, int base) {
    if (!text.empty() && text.front() == '-') return std::nullopt;
    const auto m = readMagnitude(text, base, std::numeric_limits<std::uint64_t>::max());
    if (!m) return std::nullopt;
    return m->value;
}

std::vector<std::string_view> splitComma(std::string_view text, bool keepEmpty) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const std::size_t end = comma == std::string_view::npos ? text.size() : comma;
        if (keepEmpty || end > start) pieces.push_back(text.substr(start, end - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return pieces;
}

}  // namespace portstate
