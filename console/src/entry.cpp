#include "console/entry.h"

#include <ostream>

#include "console/commands.h"

namespace console {

namespace {

constexpr std::string_view kInvalidCommand = "Invalid Command!";

Selection stop(std::string_view message, int status) {
    Selection s;
    s.kind = Selection::Kind::Stop;
    s.message = std::string(message);
    s.status = status;
    return s;
}

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Fills command and arguments by their count; a refused count sets `refusal`.
bool takeArguments(const std::vector<std::string>& args, Invocation& inv, Selection& refusal) {
    if (upperAscii(args[0]) == "/J") {
        // The JSON command takes exactly one operand; a shell-split object
        // would otherwise be run in pieces.
        if (args.size() != 2) {
            refusal = stop("Error JSON arguments", 0);
            return false;
        }
    } else if (args.size() >= 4) {
        refusal = stop(kInvalidCommand, 1);
        return false;
    }
    inv.command = args[0];
    if (args.size() > 1) inv.arg2 = args[1];
    if (args.size() > 2) inv.arg3 = args[2];
    return true;
}

bool isCommandLetter(char c) {
    constexpr std::string_view kLetters = "QSFPGWDRTXUJ";
    return kLetters.find(c) != std::string_view::npos;
}

int dispatch(char letter, const Invocation& inv) {
    switch (letter) {
        case 'Q': return doQuery(inv);
        case 'S': return doSetPortState(inv, "SP");
        case 'F': return doSetPortState(inv, "FP");
        case 'P': return doChangePassword(inv);
        case 'G': return doGetPortState(inv);
        case 'W': return doSaveState(inv);
        case 'D': return doRestoreDefault(inv);
        case 'R': return doResetHub(inv);
        case 'T': return doRdDescr(inv);
        case 'X': return doWrDescr(inv);
        case 'U': return doRdUID(inv);
        case 'J': return doJsonCmd(inv);
        default: return 1;  // not reached: selectCommand admits only the letters above
    }
}

}  // namespace

std::size_t charCount(std::string_view text) {
    std::size_t n = 0;
    for (unsigned char byte : text) {
        if (!isContinuation(byte)) ++n;
    }
    return n;
}

std::string dropChars(std::string_view text, std::size_t n) {
    std::size_t pos = 0;
    for (std::size_t dropped = 0; dropped < n && pos < text.size(); ++dropped) {
        ++pos;
        while (pos < text.size() && isContinuation(static_cast<unsigned char>(text[pos]))) ++pos;
    }
    return std::string(text.substr(pos));
}

std::string upperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

Selection selectCommand(const std::vector<std::string>& args) {
    if (args.empty()) return Selection{};  // help

    Selection sel;
    Invocation& inv = sel.invocation;
    if (!takeArguments(args, inv, sel)) return sel;

    if (inv.command.empty() || inv.command[0] != '/' || charCount(inv.command) < 2) {
        return stop(kInvalidCommand, 1);
    }
    // The third character is a free separator: "/S:port" and "/Sxport" agree.
    if (charCount(inv.command) >= 7) inv.COM_Name = dropChars(inv.command, 3);
    inv.command = upperAscii(inv.command);

    const char letter = inv.command[1];
    if (letter == 'H' || letter == '?') return Selection{};
    if (!isCommandLetter(letter)) return stop(kInvalidCommand, 0);

    sel.kind = Selection::Kind::Command;
    sel.letter = letter;
    return sel;
}

std::string helpText() {
    std::string text = "hubctl Managed USB Hub API v";
    text += Version;
    text += " for macOS";
    text += helpMsg_MacOS;
    return text;
}

int runEntry(const std::vector<std::string>& args, std::ostream& out) {
    const Selection sel = selectCommand(args);
    switch (sel.kind) {
        case Selection::Kind::Help:
            out << helpText() << '\n';
            return 0;
        case Selection::Kind::Stop:
            out << sel.message << '\n';
            return sel.status;
        case Selection::Kind::Command:
            break;
    }
    return dispatch(sel.letter, sel.invocation);
}

}  // namespace console
