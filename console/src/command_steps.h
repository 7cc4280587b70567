// Steps the hub commands share: printing the one result line, resolving the
// port operand, reading the password arguments, and running one protected
// exchange.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "console/entry.h"
#include "hublink/hub_query.h"
#include "hublink/protocol.h"

namespace console::cmd {

inline constexpr int kSuccess = 0;
inline constexpr int kFailure = 1;

inline constexpr std::string_view kInvalidSerialPort = "Invalid Serial Port!";
inline constexpr std::string_view kInvalidCommand = "Invalid Command!";
inline constexpr std::string_view kInvalidPassword = "Invalid Password!";

// Prints `text` as one line on standard output, flushed, and returns `status`.
int say(std::string_view text, int status);

// Which resolver a command uses: the query's is stricter about names.
enum class Resolver { Query, Command };

// Device path for the port operand, or nullopt when the name is refused.
std::optional<std::string> lookupPort(const std::string& COM_Name, Resolver resolver);

// Password and payload of /S, /F, /P and /X. With two arguments after the
// first, the first of them is the password; with one, it is the payload and
// no password is given. An empty third argument counts as absent.
struct ArgumentRoles {
    std::optional<std::string> password;  // nullopt: the default applies
    std::string payload;                  // state operand, new password or description
};
ArgumentRoles passwordThenPayload(const Invocation& inv);

// The password argument of /W, /D and /R: the second argument when not empty.
std::optional<std::string> optionalPassword(const Invocation& inv);

// The field sent for a password argument: HUBLINK_PASSWORD's, else the
// default, when none was given; nullopt when the one that applies is empty
// or longer than 8 characters.
std::optional<std::string> pw8For(const std::optional<std::string>& password);

// Sends `line` to `path` in one exchange and judges the reply as `op`
// requires (`states8` is the state sent by a set command). Prints the
// failure text and returns kFailure, or returns kSuccess silently.
int runProtected(const std::string& path, hublink::Operation op, const std::string& line,
                 std::string_view states8 = {});

// Value of `key` in a hub info record; nullopt when the record lacks it.
std::optional<std::string> recordField(const hublink::HubInfo& record, const std::string& key);

}  // namespace console::cmd
