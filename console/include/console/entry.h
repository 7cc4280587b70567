// hubctl's entry: splits the argument vector, selects the command and prints
// the banner and usage text. Every message goes to standard output, one per
// line; nothing here throws on malformed input.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace console {

// Program version shown in the banner.
inline constexpr std::string_view Version = "2.20";

// The usage text exactly as printed after the banner (it ends without a line
// break; the help command adds one).
extern const std::string_view helpMsg_MacOS;

// The values the commands read, filled once by the entry.
struct Invocation {
    std::string command;   // first argument, upper-cased before dispatch
    std::string COM_Name;  // first argument minus its first three characters, case kept;
                           // empty when the first argument is shorter than 7 characters
    std::string arg2;      // second argument, empty when absent
    std::string arg3;      // third argument, empty when absent
};

// What the command line asks for before any hub is touched.
struct Selection {
    enum class Kind {
        Help,     // print banner and usage, status 0
        Stop,     // print `message`, end with `status`
        Command,  // run the command selected by `letter`
    };
    Kind kind = Kind::Help;
    std::string message;
    int status = 0;
    char letter = 0;      // upper-case command letter when kind == Command
    Invocation invocation;
};

// Splits `args` (the arguments without the program name) and selects the
// command. Pure: prints nothing.
Selection selectCommand(const std::vector<std::string>& args);

// Banner followed directly by the usage text, without the final line break.
std::string helpText();

// Runs the whole command line: prints help or the refusal to `out`, or runs
// the selected command (commands print to standard output themselves).
// Returns the process exit status.
int runEntry(const std::vector<std::string>& args, std::ostream& out);

// Length in characters of UTF-8 text (continuation bytes are not counted).
std::size_t charCount(std::string_view text);

// `text` without its first `n` characters (UTF-8 aware); empty when shorter.
std::string dropChars(std::string_view text, std::size_t n);

// ASCII upper-casing; other bytes are kept as they are.
std::string upperAscii(std::string_view text);

}  // namespace console
