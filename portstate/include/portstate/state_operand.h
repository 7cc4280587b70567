// The console's state operand: letter, one separator character, argument.
//   "0:ALL" / "1:ALL" / "T:ALL"   all ports off / on / toggled
//   "0:1,3"  "1:1,3"  "T:1,3"     listed ports off / on / toggled, others unchanged
//   "B:0101"                      whole state as binary, last digit = port 1
//   "H:A601"                      whole state as 2..8 hex digits, first pair = byte 0
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "portstate/port_state.h"

namespace portstate {

inline constexpr std::string_view kStatusOK = "OK";
inline constexpr std::string_view kErrorBitStream = "Error Bit Stream!";
inline constexpr std::string_view kErrorHexString = "Error Hex String!";
inline constexpr std::string_view kErrorPortNumbers = "Error Port Numbers";
inline constexpr std::string_view kInvalidPortNumber = "Invalid Port Number!";
// "B" or "H" with "ALL".
inline constexpr std::string_view kErrorArguments = "Set Port State: Error Arguments!";
// Operation letter other than 0, 1, T, B, H.
inline constexpr std::string_view kStateFormatError = "State Format Error!";

struct WordResult {
    std::string status;               // kStatusOK or a failure text
    std::optional<StateWord> value;   // set only with kStatusOK
};

// Binary argument as a signed 64-bit number (optional sign, digits 0/1, range-checked).
// Fails with kErrorBitStream.
WordResult Bit_Stream_To_Hex(std::string_view bits);

// 2..8 hex digits; an odd count gets a leading '0'; pairs are bytes, first pair byte 0.
// Fails with kErrorHexString.
WordResult Little_Endian_To_Hex(std::string_view hex);

struct PortListResult {
    std::string status;                 // kStatusOK or kErrorPortNumbers
    std::vector<std::int64_t> ports;    // in the given order; empty pieces skipped
};

// Decimal port numbers separated by ','; every non-empty piece must be a signed integer.
PortListResult Parse_Integer_String(std::string_view portList);

struct StateUpdate {
    std::string status;   // kStatusOK or one of the failure texts above
    StateWord word;       // the new word; the current word unchanged on failure
    std::string states8;  // the 8 state digits of `word`; empty on failure
};

// Applies an upper-cased operand `sPS` (letter `funct` = its first character) to `current`
// for a hub of nPorts ports. The separator is not examined. Absent-port bits of the result
// are always set. Ports above 64 pass the range check but change nothing.
StateUpdate Update_Port_State(char funct, std::string_view sPS, std::int64_t nPorts, StateWord current);

}  // namespace portstate
