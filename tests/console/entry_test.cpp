// hubctl's command line: the splitter as a table, and the built program's
// help and refusals checked byte for byte with their exit statuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/entry.h"
#include "process.h"

namespace {

using console::Selection;

struct ProcessResult {
    std::string out;
    int status = -1;
};

// Runs hubctl with `args`, collecting its standard output and exit status.
ProcessResult runHubctl(const std::vector<std::string>& args) {
    std::vector<std::string> argv{HUBCTL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    const testsupport::ProcessResult run = testsupport::runProcess(argv);
    return {run.out, run.exitStatus};
}

// The help output as users read it: banner, the usage text glued to it, one
// final line break.
std::string expectedHelp() {
    const std::string port = "cu.usbserial-B00337P8";
    const std::string ctl =
        "control port cu.usbserial-B00337P8, cu.usbmodemBFCPx1961171, or UID0123456789AB";
    const std::string passLine =
        std::string(4, ' ') + "pass" + std::string(12 - 8, ' ') +
        "password, default is used if this argument is not specified";
    const std::vector<std::string> lines = {
        "hubctl Managed USB Hub API v2.20 for macOSUsage: hubctl command [password] [argument]",
        "command:",
        "    /Q      query (no password is required)",
        "    Usage:  hubctl /Q [option]",
        "            hubctl /Q:" + port + " [option]",
        "    /Q          query all Managed USB Hubs",
        "    /Q:" + port + "  " + ctl,
        "    option      -F  output in formatted string",
        "",
        "    /S      set port states (password is required)",
        "    Usage:  hubctl /S:" + port + " [pass] [states]",
        "    " + port + "  " + ctl,
        passLine,
        "    states  port states to be set on, off, toggle or given binary/hex states",
        "            1:3,4   port 3 and 4 on",
        "            0:3     port 3 off",
        "            T:1,2   toggle port 1 and 2 states",
        "            0:ALL   all ports off",
        "            B:0101  binary, port 1 and 3 on, port 2, 4 off",
        "            H:A601  byte hex (little-endian A6 01 ...):",
        "                    port 2, 3, 6, 8, 9 on, the others off",
        "",
        "    /F          set port states and save to flash as the initial states",
        "    Usage:      similar to set port states (/S)",
        "",
        "    /P              change password (8 characters maximum)",
        "    Usage:          hubctl /P:" + port + " [old_password] new_password",
        "    " + port + "  " + ctl,
        "    old_password    old password, default assumed if omitted",
        "    new_password    new password",
        "",
        "    /G          get current port states (no password is required)",
        "    Usage:      hubctl /G:" + port + " [option]",
        "    /G:" + port + "  " + ctl,
        "    option      -B    output in formatted binary string",
        "                -H    output in formatted little-endian hex string",
        "",
        "    /W      save states to flash as the initial states (password is required)",
        "    Usage:  hubctl /W:" + port + " [pass]",
        "",
        "    /T       read Hub description string",
        "    Usage:   hubctl /T:" + port,
        "",
        "    /X       write Hub description string (password is required)",
        "    Usage:   hubctl /X:" + port + " [pass] 'description string'",
        "",
        "    /U       read Hub UID (Unique ID) string",
        "    Usage:   hubctl /U:" + port,
        "",
        "    /D      restore to factory default settings (password is required)",
        "    Usage:  hubctl /D:" + port + " [pass]",
        "",
        "    /R      reset the entire Managed USB Hub (password is required)",
        "    Usage:  hubctl /R:" + port + " [pass]",
        "",
        "    /J      Commands in JSON format",
        "    Usage:  hubctl /J 'JSON_string'",
        "    'JSON_string' is input command and arguments in JSON format",
        std::string(4, ' '),
        "Example: To control port 3 of the hub, follow the steps below:",
        "hubctl /Q  (auto search all the hubs connected)",
        "hubctl /S:" + port + " 0:3  (turn OFF port 3, assumed " + port +
            " is found by the /Q command)",
        "hubctl /S:" + port + " 1:3  (turn ON port 3)",
        "",
        "Examples to control ports with input JSON string",
        "hubctl /J '{\"CMD\":\"Q\"}'  (Query all Hubs)",
        "hubctl /J '{\"CMD\":\"SPST\",\"COM\":\"COM3\",\"PSW\":\"abcd\",\"STATES\":\"F4,FF,FF,FF\"}'"
        "  (turn Off ports 1,2,4)",
    };
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

TEST(HubctlProcess, HelpIsPrintedByteForByte) {
    const std::string want = expectedHelp();
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"/h"}, {"/H"}, {"/?"}, {"/h:cu.usbserial-B00337P8", "x"}}) {
        const ProcessResult run = runHubctl(args);
        SCOPED_TRACE(args.empty() ? "(none)" : args[0]);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, want);
    }
}

TEST(HubctlProcess, MalformedCommandLines) {
    struct Case {
        std::vector<std::string> args;
        std::string out;
        int status;
    };
    const std::vector<Case> cases = {
        {{"/J"}, "Error JSON arguments\n", 0},
        {{"/j", "a", "b"}, "Error JSON arguments\n", 0},
        {{"/J", "a", "b", "c"}, "Error JSON arguments\n", 0},
        {{"/Z"}, "Invalid Command!\n", 0},
        {{"/z:cu.usbserial-B00337P8", "x"}, "Invalid Command!\n", 0},
        {{"Q"}, "Invalid Command!\n", 1},
        {{"/"}, "Invalid Command!\n", 1},
        {{""}, "Invalid Command!\n", 1},
        {{"/S:x", "a", "b", "c"}, "Invalid Command!\n", 1},
        {{"/H", "a", "b", "c"}, "Invalid Command!\n", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " with " + std::to_string(c.args.size()) + " argument(s)");
        const ProcessResult run = runHubctl(c.args);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.status, c.status);
    }
}

TEST(Splitter, RefusalsAndHelp) {
    struct Case {
        std::vector<std::string> args;
        Selection::Kind kind;
        std::string message;
        int status;
    };
    using K = Selection::Kind;
    const std::vector<Case> cases = {
        {{}, K::Help, "", 0},
        {{"/h"}, K::Help, "", 0},
        {{"/?", "a", "b"}, K::Help, "", 0},
        {{"/J"}, K::Stop, "Error JSON arguments", 0},
        {{"/j", "a", "b", "c", "d"}, K::Stop, "Error JSON arguments", 0},
        {{"/S:x", "a", "b", "c"}, K::Stop, "Invalid Command!", 1},
        {{"Q"}, K::Stop, "Invalid Command!", 1},
        {{"/"}, K::Stop, "Invalid Command!", 1},
        {{"\\Q:ttyUSB0"}, K::Stop, "Invalid Command!", 1},
        {{"/Z"}, K::Stop, "Invalid Command!", 0},
        {{"/\xC3\xA9"}, K::Stop, "Invalid Command!", 0},  // "/é": two characters, no letter
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
        const Selection sel = console::selectCommand(c.args);
        EXPECT_EQ(sel.kind, c.kind);
        EXPECT_EQ(sel.message, c.message);
        EXPECT_EQ(sel.status, c.status);
    }
}

TEST(Splitter, OperandAndArguments) {
    struct Case {
        std::vector<std::string> args;
        char letter;
        std::string command, COM_Name, arg2, arg3;
    };
    const std::vector<Case> cases = {
        {{"/q:cu.usbserial-B00337P8"}, 'Q', "/Q:CU.USBSERIAL-B00337P8", "cu.usbserial-B00337P8", "", ""},
        // The third character is not looked at.
        {{"/Sxcu.usbserial-B00337P8", "1:3"}, 'S', "/SXCU.USBSERIAL-B00337P8", "cu.usbserial-B00337P8", "1:3", ""},
        {{"/Q-cu.usbserial-B00337P8"}, 'Q', "/Q-CU.USBSERIAL-B00337P8", "cu.usbserial-B00337P8", "", ""},
        {{"/f:ttyUSB0", "pass", "0:ALL"}, 'F', "/F:TTYUSB0", "ttyUSB0", "pass", "0:ALL"},
        // Seven characters is the threshold.
        {{"/Q:cu1"}, 'Q', "/Q:CU1", "", "", ""},
        {{"/Q:cu12"}, 'Q', "/Q:CU12", "cu12", "", ""},
        {{"/Q"}, 'Q', "/Q", "", "", ""},
        // Characters, not bytes: "é" is one character of two bytes.
        {{"/Q:\xC3\xA9" "12"}, 'Q', "/Q:\xC3\xA9" "12", "", "", ""},
        {{"/Q:\xC3\xA9" "123"}, 'Q', "/Q:\xC3\xA9" "123", "\xC3\xA9" "123", "", ""},
        {{"/p:UID0123456789ab", "old", "new"}, 'P', "/P:UID0123456789AB", "UID0123456789ab", "old", "new"},
        {{"/g:COM3", "-b"}, 'G', "/G:COM3", "COM3", "-b", ""},
        {{"/w:COM3"}, 'W', "/W:COM3", "COM3", "", ""},
        {{"/d:COM3"}, 'D', "/D:COM3", "COM3", "", ""},
        {{"/r:COM3"}, 'R', "/R:COM3", "COM3", "", ""},
        {{"/t:COM3"}, 'T', "/T:COM3", "COM3", "", ""},
        {{"/x:COM3", "Desk hub"}, 'X', "/X:COM3", "COM3", "Desk hub", ""},
        {{"/u:COM3"}, 'U', "/U:COM3", "COM3", "", ""},
        {{"/j", "{\"CMD\":\"Q\"}"}, 'J', "/J", "", "{\"CMD\":\"Q\"}", ""},
        // Not exactly "/J", so the JSON argument count does not apply.
        {{"/Jx"}, 'J', "/JX", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const Selection sel = console::selectCommand(c.args);
        ASSERT_EQ(sel.kind, Selection::Kind::Command);
        EXPECT_EQ(sel.letter, c.letter);
        EXPECT_EQ(sel.invocation.command, c.command);
        EXPECT_EQ(sel.invocation.COM_Name, c.COM_Name);
        EXPECT_EQ(sel.invocation.arg2, c.arg2);
        EXPECT_EQ(sel.invocation.arg3, c.arg3);
    }
}

}  // namespace
