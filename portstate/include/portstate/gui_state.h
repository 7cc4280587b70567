// Port-state conversions of the windowed programs. Their State64 list holds one 0/1
// entry per state bit, port 1 first, 32 entries (state bytes 0..3).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace portstate {

// Hex text of even length -> bytes; nullopt when the length is odd or a pair is not
// two hex digits (no signs, no blanks). "" gives no bytes.
std::optional<std::vector<std::uint8_t>> stringToBytes(std::string_view text);

// The 8 bits of `byte` as 0/1, least significant bit first.
std::array<int, 8> bits(std::uint8_t byte);

// Packs entries into ceil(size/8) bytes: entry i equal to 1 sets bit 7-(i mod 8) of byte
// i div 8; any other value leaves it clear.
std::vector<std::uint8_t> bitsToBytes(const std::vector<std::int64_t>& bitList);

struct GuiPortState {
    std::vector<std::string> on;       // decimal port numbers, ascending
    std::vector<std::string> off;
    std::vector<std::string> state64;  // 32 entries "0"/"1", port 1 first
};

// Port count and the first 8 characters of a get-port-states reply -> on/off/State64.
// nullopt unless portState reads as at least 4 hex bytes and 1 <= portNumbers <= 32.
std::optional<GuiPortState> parsePortState(std::int64_t portNumbers, std::string_view portState);

// Texts joined by ',' (empty pieces kept) -> signed integers; nullopt when any piece is
// not a decimal integer, so "" and "1,,0" are refused.
std::optional<std::vector<std::int64_t>> get_numbers(std::string_view stringtext);

// 8 upper-case hex digits of entries 0..31 (entry k == 1 sets port k+1), byte of ports
// 1..8 first. nullopt when fewer than 32 entries are given.
std::optional<std::string> state64Text(const std::vector<std::int64_t>& state64);

// State text sent for a switch click: 0 -> "00000000" (all off), -1 -> "FFFFFFFF" (all on),
// 1..16 -> state64Text with entry n-1 flipped (0 becomes 1, anything else 0).
// nullopt for other switch numbers or, for 1..16, fewer than 32 entries.
std::optional<std::string> switchStateText(int switchNumber, std::vector<std::int64_t> state64);

}  // namespace portstate
