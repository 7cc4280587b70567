// Plain text readers the fuzz targets' oracles share: written apart from the
// code under test, so that a fault there is not copied into the check.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace fuzzoracle {

// Integer with an optional sign, nothing else; none when out of range.
inline std::optional<std::int64_t> readInt(std::string_view s, int base = 10) {
    const bool plus = !s.empty() && s.front() == '+';
    if (plus) s.remove_prefix(1);
    if (s.empty() || (plus && s.front() == '-')) return std::nullopt;
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return v;
}

// The comma-separated pieces of `text` that are not empty.
inline std::vector<std::string_view> nonEmptyPieces(std::string_view text) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) comma = text.size();
        if (comma > start) pieces.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return pieces;
}

}  // namespace fuzzoracle
