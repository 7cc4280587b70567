// Integer and list reading shared by every textual state form.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace portstate {

// Value of one digit in bases up to 36 (letters in either case), or -1.
int digitValue(char c);

bool isHexDigit(char c);

// True when `text` is non-empty and every byte is a hexadecimal digit.
bool isHexText(std::string_view text);

// Strict integer reading: an optional '+' or '-', then at least one digit of `base`
// (2..36), nothing else (no blanks, no prefix). nullopt when malformed or out of the
// signed 64-bit range.
std::optional<std::int64_t> parseInt64(std::string_view text, int base);

// As parseInt64 for the unsigned 64-bit range; a leading '-' is refused.
std::optional<std::uint64_t> parseUInt64(std::string_view text, int base);

// Splits at ','. Views point into `text`. With keepEmpty false, empty pieces are dropped.
std::vector<std::string_view> splitComma(std::string_view text, bool keepEmpty);

}  // namespace portstate
