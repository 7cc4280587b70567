// Command line of hubflash.
#pragma once

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

// `args` excludes the program name.
ParsedFlashOptions parseFlashOptions(const std::vector<std::string>& args);

const char* flashUsage();

}  // namespace hubflash
