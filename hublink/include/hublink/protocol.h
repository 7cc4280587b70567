// The hub's command lines, reply classes and the result texts each front end
// derives from them. Pure functions: nothing here touches a port.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "hublink/exchange.h"

namespace hublink {

// Sent whenever the user gives no password: four letters, four blanks.
inline constexpr std::string_view kDefaultPassword = "kiwi    ";
inline constexpr std::size_t kPasswordChars = 8;
inline constexpr char kCR = '\r';

// Number of characters (code points) in UTF-8 text. Bytes that do not form
// valid UTF-8 count one character per lead byte, so the count is total.
std::size_t utf8Length(std::string_view text);

// Whether `text` may go into a command line: valid UTF-8 (no overlong forms,
// no surrogates, nothing above U+10FFFF) without control characters (C0, DEL,
// C1). A CR or LF would cut the line in two and hand the hub a second
// command; other control bytes and broken UTF-8 reach it raw and make the
// length rules count wrong.
bool isSendableText(std::string_view text);

// Longest description the console accepts, in characters.
inline constexpr std::size_t kConsoleDescriptionChars = 50;

// ---- Password field (pw8) ------------------------------------------------

// Console rule: a password of 1..8 characters padded on the right with blanks
// to 8 characters; nullopt for an empty or longer one, or one that is not
// sendable text (the caller prints
// "Invalid Password!" or "Invalid New Password!"). Non-ASCII characters make
// the field longer than 8 bytes; it is still 8 characters.
std::optional<std::string> consolePasswordField(std::string_view password);

// Window rule: padded with blanks or cut to its first 8 characters; never
// fails (an empty entry becomes eight blanks).
std::string windowPasswordField(std::string_view typed);

// HUBLINK_PASSWORD, when it is set and not empty: what a command given no
// password sends instead of the default (by its own rule above), so that a
// password need not stand on a command line for every user of the host to
// read.
std::optional<std::string> environmentPassword();

// The console's and the window's field for no password given: the
// environment's (nullopt when it breaks the console rule), else the default.
std::optional<std::string> consoleUnstatedPassword();
std::string windowUnstatedPassword();

// How a password field is shown wherever a line sent to a hub is shown.
inline constexpr std::string_view kPasswordShown = "********";

// ---- Command lines ---------------------------------------------------------
// Every builder expects its pw8 arguments already normalised by one of the
// rules above and states8 as 8 upper-case hexadecimal digits; it joins code
// and fields without separators and ends the line with CR.

std::string commandLine(std::string_view code, std::string_view field1 = {},
                        std::string_view field2 = {});

std::string identifyCommand();                                     // "?Q"
std::string extendedIdentifyCommand();                             // "E?Q2"
std::string getPortStatesCommand();                                // "GP"
std::string setPortStatesCommand(std::string_view pw8, std::string_view states8);         // "SP"
std::string setAndSavePortStatesCommand(std::string_view pw8, std::string_view states8);  // "FP"
// The console saves the live states; the windows send the states to save.
std::string consoleSavePortStatesCommand(std::string_view pw8);                           // "WP"
std::string windowSavePortStatesCommand(std::string_view pw8, std::string_view states8);  // "WP"
std::string changePasswordCommand(std::string_view oldPw8, std::string_view newPw8);      // "CP"
std::string writeDescriptionCommand(std::string_view pw8, std::string_view text);         // "ESDD"
std::string restoreDefaultsCommand(std::string_view pw8);                                 // "RD"
std::string resetHubCommand(std::string_view pw8);                                        // "RH"
std::string enterFirmwareUpdateCommand(std::string_view pw8);                             // "EUFW"

// ---- Replies ---------------------------------------------------------------

enum class ReplyClass { Accepted, PasswordRejected, Refused };

// "E01..." is a rejected password, "G..." accepted, anything else (empty
// included) refused. The two prefixes exclude each other, so the console's
// order (E01 first) and the window's (G first) agree.
ReplyClass classifyReply(std::string_view reply);

// The operations that send a command line.
enum class Operation {
    Identify,
    ExtendedIdentify,
    GetPortStates,
    SetPortStates,
    SetAndSavePortStates,
    SavePortStates,
    ChangePassword,
    WriteDescription,
    RestoreDefaults,
    ResetHub,
    EnterFirmwareUpdate,
};

// What the console makes of one exchange: success, or the text to print.
struct ConsoleOutcome {
    bool success = false;
    std::string text;  // empty on success
};

// Console mapping of a protected operation. A failed exchange gives its status
// text; "E01" gives "Password Error!"; an accepted set (or set-and-save) only
// succeeds when the text after "G" begins with `sentStates8`; other replies
// give the operation's failure text. Reset hub fails on "E01", and with the
// exchange's status when the command never went out (a hub silent after a
// sent reset is restarting: success). The
// queries and firmware update are not mapped here: they succeed exactly when
// the exchange did.
ConsoleOutcome consoleOutcome(Operation op, const Exchange& exchange,
                              std::string_view sentStates8 = {});

// What the windows make of a reply (the receive buffer read as text).
struct WindowOutcome {
    ReplyClass replyClass = ReplyClass::Refused;
    // "OK", "Password Err", "State Err", "I/O Err1" or "I/O Error". Empty for
    // change password when accepted or rejected: the form words those itself.
    std::string text;
};

// Window mapping: set/save/restore give "OK"/"Password Err"/"State Err";
// reset hub counts everything but "E01" as "OK"; write description gives
// "I/O Err1" for a refused reply; change password "I/O Error". The
// transport's own result is not consulted: a missing reply is an empty one.
WindowOutcome windowOutcome(Operation op, std::string_view reply);

// ---- Window receive limits -------------------------------------------------

// Zero-filled buffer size, bound in bytes, and the wait for each byte.
struct ReceiveLimits {
    int bufferSize;
    int bound;
    int seconds;
    int milliseconds;
};

// Identify and get port states during a search share one 100-byte buffer
// with the extended identify query.
inline constexpr ReceiveLimits kSearchQueryLimits{100, 32, 0, 500};
inline constexpr ReceiveLimits kExtendedIdentifyLimits{100, 100, 0, 500};
// Set, save, change password, enter firmware update and its identify query.
inline constexpr ReceiveLimits kProtectedLimits{32, 32, 2, 100};
// Restore defaults, reset hub, write description: short replies only.
inline constexpr ReceiveLimits kShortReplyLimits{32, 10, 2, 100};

// Limits the window uses for `op` (Identify means the search's identify;
// the firmware update's identify uses kProtectedLimits).
ReceiveLimits windowLimits(Operation op);

// ---- Hub family ------------------------------------------------------------

// Positions 12-14 of an identify reply (shorter when the reply is short).
std::string_view firmwareField(std::string_view identifyReply);

// Console reading: the field's decimal digits read as hexadecimal ("V04" 4,
// "V10" 16); nullopt when there are none (treat as below 4).
std::optional<int> consoleFirmwareVersion(std::string_view field);

// Window reading: the field without its first character as a decimal number.
// The whole rest must be decimal digits ("V04" 4); anything else, an empty
// rest included, reads as 0.
int windowFirmwareVersion(std::string_view field);

// Firmware 4 and later answers the extended identify query.
bool hasExtendedIdentify(int firmwareVersion);

// "v00".."v03" in any case: the window offers no description editing and no
// firmware update for such a hub.
bool isLegacyFirmware(std::string_view field);

}  // namespace hublink
