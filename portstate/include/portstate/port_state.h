// The state word and the display forms built from a hub state text.
//
// State word: bit p-1 is port p, 1 = powered. Byte k holds ports 8k+1..8k+8 with the lowest
// port in bit 0; every byte sequence lists byte 0 first. Hub state text: two-digit hex bytes
// joined by ',' ("F4,FF,FF,FF"). Only bytes 0..3 (ports 1..32) ever reach a hub.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace portstate {

using StateWord = std::int64_t;

// Listing forms stop at this many ports; real hubs report at most 99.
inline constexpr std::int64_t kMaxListedPorts = 1024;

// Bits of ports the hub does not have: nPorts..63. None for nPorts >= 64, all for nPorts <= 0.
std::uint64_t absentPortMask(std::int64_t nPorts);

// Hub state text -> state word with the absent-port bits set. Empty pieces are dropped;
// piece i is read as a signed hex integer and added at byte i (pieces from the ninth on
// add nothing); an unreadable piece adds nothing but keeps its position. Pieces wider than
// a byte are added as they are (sums wrap).
StateWord Parse_Port_States_int64(std::int64_t nPorts, std::string_view Port_State_String);

struct PortLists {
    std::string on;   // ascending port numbers joined by ',', or "None"
    std::string off;
};

// On and off lists of ports 1..nPorts (ports above 64 are always off); pieces read signed.
PortLists Parse_Port_States(std::int64_t nPorts, std::string_view portStateString);

// As Parse_Port_States, but pieces read as unsigned 64-bit (a '-' piece adds nothing).
PortLists parsePortStates(std::int64_t nPorts, std::string_view portStateString);

// Bytes 0..3 of the word as "%02X" each, byte 0 first: the 8 state digits sent to a hub.
std::string states8Of(StateWord word);

// Exactly nPorts binary digits (none for nPorts <= 0), port n first, port 1 last.
std::string binaryStateText(std::int64_t nPorts, std::string_view hubStateText);

// The hub state text without its commas (empty pieces dropped).
std::string compactHubStateText(std::string_view hubStateText);

// First 8 characters of a get-port-states reply as a hub state text ("F4,FF,FF,FF");
// nullopt when the reply is shorter or those characters are not all hex digits.
std::optional<std::string> hubStateTextFromReply(std::string_view reply);

}  // namespace portstate
