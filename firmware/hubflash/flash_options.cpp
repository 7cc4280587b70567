#include "flash_options.h"

#include <unistd.h>

#include <cerrno>

#include "firmware/firmware_file.h"
#include "hublink/protocol.h"

namespace hubflash {

namespace {

// Takes the option at args[i] (and its values); returns an error text.
std::string takeOption(const std::vector<std::string>& args, std::size_t& i, FlashOptions& o,
                       bool& passwordGiven, const LineSource& standardInput) {
    const std::string& name = args[i];
    auto value = [&](std::string& into) -> bool {
        if (i + 1 >= args.size()) return false;
        into = args[++i];
        return true;
    };
    if (name == "-h" || name == "--help") o.help = true;
    else if (name == "--raw") o.raw = true;
    else if (name == "--recover") o.recover = true;
    else if (name == "-v" || name == "--verbose") o.verbose = true;
    else if (name == "-q" || name == "--quiet") o.quiet = true;
    else if (name == "-p" || name == "--password") {
        if (!value(o.password)) return name + " wants a password";
        // "-": read, so that it stands in no argument list.
        if (o.password == "-") {
            const auto line = standardInput();
            if (!line || line->empty()) return name + " - found no password on standard input";
            o.password = *line;
        }
        // A line break would end the command line; other controls and broken
        // UTF-8 garble it and make the cut to 8 characters count wrong.
        if (!hublink::isSendableText(o.password)) return "the password holds a control character";
        passwordGiven = true;
    } else if (name == "--key") {
        if (!value(o.key)) return "--key wants a key";
        if (!firmware::validKey(o.key)) return "--key wants exactly 13 characters";
    } else if (name == "--scramble") {
        if (!value(o.scrambleIn) || !value(o.scrambleOut)) return "--scramble wants IN and OUT";
        if (o.scrambleIn.empty() || o.scrambleOut.empty()) return "--scramble wants IN and OUT";
    } else {
        return "unknown option " + name;
    }
    return {};
}

}  // namespace

std::optional<std::string> firstLineOfStandardInput() {
    constexpr std::size_t kLongest = 1024;
    std::string line;
    char c = 0;
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);  // a byte at a time: the rest stays unread
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || c == '\n') break;
        if (line.size() >= kLongest) return std::nullopt;
        line += c;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) return std::nullopt;
    return line;
}

ParsedFlashOptions parseFlashOptions(const std::vector<std::string>& args, const LineSource& standardInput) {
    FlashOptions o;
    o.key = firmware::defaultKey();
    bool passwordGiven = false;
    std::vector<std::string> operands;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            std::string error = takeOption(args, i, o, passwordGiven, standardInput);
            if (!error.empty()) return {std::nullopt, error};
        } else {
            operands.push_back(arg);
        }
    }
    if (o.help) return {o, {}};
    o.password = passwordGiven ? hublink::windowPasswordField(o.password) : hublink::windowUnstatedPassword();
    if (o.scrambling()) {
        if (!operands.empty()) return {std::nullopt, "--scramble takes no PORT or FILE"};
        return {o, {}};
    }
    if (operands.size() != 2) return {std::nullopt, "wants PORT and FILE"};
    o.port = operands[0];
    o.file = operands[1];
    if (o.port.empty() || o.file.empty()) return {std::nullopt, "PORT and FILE must not be empty"};
    return {o, {}};
}

const char* flashUsage() {
    return R"(Usage: hubflash [options] PORT FILE
       hubflash [--key KEY] --scramble IN OUT

Programs a Managed USB Hub's firmware from a scrambled firmware file, as the
window's UpdateFirmware does, without a window.

  PORT                 the control port: a device path, a name (ttyUSB0) or a
                       hub UID (UID0123456789AB)
  FILE                 scrambled firmware file (.enc); with --raw an
                       unscrambled image
  -p, --password PW    the hub password (default: HUBLINK_PASSWORD, else the
                       factory default), cut or padded with blanks to 8
                       characters; "-p -" reads it from standard input's
                       first line
  --raw                FILE is an unscrambled image
  --key KEY            the 13-character key of a file scrambled with another key
  --recover            the hub is already in its loader (an update that failed
                       half way): no hub commands and no product-ID comparison
                       with the hub; start with the connect packet. PORT must
                       be a path or name: a hub in its loader answers no UID
                       lookup
  --scramble IN OUT    write OUT, the scrambled form of image IN, and exit
  -v, --verbose        the protocol trace on standard output
  -q, --quiet          no progress output
  -h, --help           this text

Progress goes to standard error. The last line on standard output is the
outcome; the exit status says it too:
  0  Firmware programmed Successfully!
  1  I/O Error!                 (programming failed; the hub stays in its loader)
  2  command line wrong
  3  Invalid Firmware File! / Incorrect Firmware File!
  4  Password Error!
  5  State Error                (hub not answering, or refusing the update)

HUBLINK_REGISTRY_ROOT=DIR makes UID lookups use the device registry under DIR
(as built by hubsim --tree DIR).
)";
}

}  // namespace hubflash
