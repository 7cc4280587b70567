// Command line of hubflash.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace hubflash {

struct FlashOptions {
    std::string port;      // as typed: path, name or UID
    std::string file;
    std::string password;  // normalised to 8 characters
    std::string key;       // 13 bytes
    std::string scrambleIn, scrambleOut;  // set: --scramble, no hub involved
    bool raw = false;
    bool recover = false;
    bool verbose = false;
    bool quiet = false;
    bool help = false;
    bool scrambling() const { return !scrambleOut.empty(); }
};

struct ParsedFlashOptions {
    std::optional<FlashOptions> options;
    std::string error;  // set when options is empty
};

// Standard input's first line without its line end (at most 1 KiB), none
// when it holds none.
using LineSource = std::function<std::optional<std::string>()>;
std::optional<std::string> firstLineOfStandardInput();

// `args` excludes the program name. "-p -" takes the password from
// `standardInput`; without -p, HUBLINK_PASSWORD serves, else the default.
ParsedFlashOptions parseFlashOptions(const std::vector<std::string>& args,
                                     const LineSource& standardInput = firstLineOfStandardInput);

const char* flashUsage();

}  // namespace hubflash
