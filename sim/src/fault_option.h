// hubsim's --fault values: KIND[:COMMAND][:N], e.g. "silent:GP",
// "late:SP:1500", "loader-drop:13". One table holds every kind.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "sim/virtual_hub.h"

namespace sim {

using AnyFault = std::variant<Fault, LoaderFault>;

struct ParsedFault {
    std::optional<AnyFault> fault;
    std::string error;  // set when fault is empty; names the option and its kind's form
};

// Hub kinds take an optional COMMAND (a code the hub knows); loader kinds
// take none. N is decimal digits within the kind's bounds. "reply" takes a
// TEXT in place of N: the rest of the option, colons included.
ParsedFault parseFaultOption(std::string_view option);

// Every kind's name, in the order --help lists them.
std::vector<std::string_view> faultKindNames();

// Pause between the pieces of a "split" reply.
inline constexpr int kSplitGapMillis = 10;
// A "loader-split" reply: this many bytes, the pause, the rest (as an FTDI
// adapter sends at most 62 data bytes per USB packet, held up to its 16 ms
// latency timer).
inline constexpr int kLoaderSplitBytes = 62;
inline constexpr int kLoaderSplitMillis = 16;

}  // namespace sim
