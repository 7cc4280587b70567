#include "json_reply.h"

namespace console::jcmd {

namespace {

constexpr int kPrettyIndent = 2;
constexpr int kInvalidUtf8Error = 316;  // nlohmann's type_error for such strings

std::string serialize(const Reply& reply, Layout layout) {
    const int indent = layout == Layout::Pretty ? kPrettyIndent : -1;
    // Strict error handling: invalid UTF-8 throws instead of being replaced.
    return escapeSlashes(reply.dump(indent, ' ', /*ensure_ascii=*/false,
                                    Reply::error_handler_t::strict));
}

std::string failureText(OnFailure onFailure, const nlohmann::json::exception& e) {
    switch (onFailure) {
        case OnFailure::SerializingLine: return "Error serializing JSON.\n";
        case OnFailure::EncodingLine:
            return e.id == kInvalidUtf8Error ? "Error encoding JSON to string!\n"
                                             : "Error serializing JSON!\n";
        case OnFailure::Nothing: return {};
        case OnFailure::FixedRes: return "{\"RES\": \"Error serializing JSON\"}\n";
        case OnFailure::ConvertingLine:
            return "Error converting dictionary to JSON: " + std::string(e.what()) + "\n";
    }
    return {};
}

}  // namespace

Reply resReply(std::string_view res) {
    Reply reply;
    reply["RES"] = res;
    return reply;
}

std::string escapeSlashes(std::string_view serialized) {
    std::string out;
    out.reserve(serialized.size());
    bool inString = false;
    bool escaped = false;  // the previous character was an escaping backslash
    for (const char c : serialized) {
        if (inString && !escaped && c == '/') out += '\\';
        out += c;
        if (escaped) {
            escaped = false;
        } else if (inString && c == '\\') {
            escaped = true;
        } else if (c == '"') {
            inString = !inString;
        }
    }
    return out;
}

std::string writeReply(const Reply& reply, ReplyForm form) {
    try {
        return serialize(reply, form.layout) + '\n';
    } catch (const nlohmann::json::exception& e) {
        return failureText(form.onFailure, e);
    }
}

}  // namespace console::jcmd
