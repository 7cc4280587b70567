// Reading a JSON request of `hubctl /J`: the object, its command name and the
// arguments each command takes from it. Pure: nothing here touches a port.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace console::jcmd {

using Request = nlohmann::json;

// The request object; nullopt when `text` is not JSON (invalid UTF-8
// included) or its top-level value is not an object.
std::optional<Request> parseRequest(std::string_view text);

// "CMD" upper-cased, or empty when it is missing or not a string.
std::string commandName(const Request& req);

// The member's text when it is present and a string. Member names are
// case-sensitive.
std::optional<std::string> stringMember(const Request& req, const char* name);

// The control-port operand "COM": a string that could name a device. A text
// with a NUL byte cannot (open() would see only the part before it).
std::optional<std::string> comOperand(const Request& req);

// A value read from the request, or the error text to reply with.
struct ArgResult {
    std::string value;
    std::string error;  // empty when `value` holds the argument
    bool ok() const { return error.empty(); }
};

// "PSW" as pw8: missing or not a string gives the default password; a string
// of 1 to 8 characters is padded; otherwise "Invalid Password!".
ArgResult JGet_Password(const Request& req);

// "NPW" as pw8: missing or not a string "Missing New Password!", outside 1 to
// 8 characters "Invalid New Password!".
ArgResult JGet_Passwords(const Request& req);

// "DESC" of "WDES": missing or not a string "Missing Description String!",
// over 50 characters "Error: String cannot exceed 50 characters!".
ArgResult JGet_Description(const Request& req);

// Arguments of "SPST" and "SPSF", read in this order: "STATES" as the 8
// digits to send, then "PSW".
struct CmdArgs {
    std::string states8;
    std::string pw8;
    std::string error;  // the first failure; empty when both were read
};
CmdArgs JGet_Cmd_Args(const Request& req);

}  // namespace console::jcmd
