// The "STATES" text of a JSON set request, sent to the hub as given (no port count,
// no current state, no absent-port bits).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace portstate {

inline constexpr std::string_view kInvalidPortState = "Invalid Port State!";
inline constexpr std::string_view kIncorrectPortState = "Incorrect Port State!";

// True when `text` is exactly 8 characters, each a hexadecimal digit.
bool Validate_8_Hex_String(std::string_view text);

struct JsonStatesResult {
    std::string status;   // "OK", kInvalidPortState or kIncorrectPortState
    std::string states8;  // the 8 upper-case digits; empty on failure
};

// Upper-cases, splits at ',', trims white space from each piece and joins the pieces.
// `states` is nullopt when the member is missing or not a string.
// "f4, ff, ff, ff", "F4,FF,FF,FF" and "F4FFFFFF" all give "F4FFFFFF".
JsonStatesResult jsonStatesToStates8(const std::optional<std::string>& states);

}  // namespace portstate
