// The 8-digit port-state field of the wire: 4 state bytes, byte 0 (ports 1-8)
// first, each as two hexadecimal digits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

// Upper-case form, e.g. 0xFFFFFFF4 -> "F4FFFFFF".
std::string formatStates8(std::uint32_t states);

// Reads exactly 8 hexadecimal digits (either case); nothing otherwise.
std::optional<std::uint32_t> parseStates8(std::string_view text);

// Bits of the ports a hub of `ports` ports does not have.
std::uint32_t absentPortMask(int ports);

}  // namespace sim
