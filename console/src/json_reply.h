// Writing the reply of `hubctl /J`: compact or pretty text with "/" escaped
// inside strings, and the fixed texts printed when a reply cannot be
// serialized (a value that is not valid UTF-8).
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace console::jcmd {

// "RES" first: readers of the compact text expect it there.
using Reply = nlohmann::ordered_json;

enum class Layout { Compact, Pretty };

// What is printed instead of a reply that cannot be serialized.
enum class OnFailure {
    SerializingLine,  // "Error serializing JSON." ("Q", "QH")
    EncodingLine,     // "Error encoding JSON to string!" ("GPST")
    Nothing,          // "SPST", "SPSF"
    FixedRes,         // {"RES": "Error serializing JSON"}
    ConvertingLine,   // "Error converting dictionary to JSON: " + the error
};

struct ReplyForm {
    Layout layout = Layout::Compact;
    OnFailure onFailure = OnFailure::FixedRes;
};

// {"RES": res}
Reply resReply(std::string_view res);

// `serialized` JSON text with every "/" inside a string written as "\/".
std::string escapeSlashes(std::string_view serialized);

// The text to print for `reply`, its line break included; empty when
// nothing is to be printed.
std::string writeReply(const Reply& reply, ReplyForm form);

}  // namespace console::jcmd
