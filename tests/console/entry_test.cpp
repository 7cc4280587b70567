// hubctl's command line: the splitter as a table, and the built program's
// help and refusals checked byte for byte with their exit statuses.
#include <gtest/gtest.h>

#include "console/entry.h"
#include "hub_harness.h"
#include "process.h"

namespace {

using hubtest::Lines;

// Replaces every "{P}" by the sample port and "{C}" by its description.
std::string expand(std::string text) {
    const std::pair<std::string, std::string> marks[] = {
        {"{C}", "{P}  control port {P}, cu.usbmodemBFCPx1961171, or UID0123456789AB"},
        {"{P}", "cu.usbserial-B00337P8"}};
    for (const auto& [mark, with] : marks) {
        for (auto at = text.find(mark); at != std::string::npos; at = text.find(mark, at))
            text.replace(at, mark.size(), with);
    }
    return text;
}

// Banner, the usage text glued to it, one final line break.
const std::string kHelp = expand(
    "hubctl Managed USB Hub API v2.20 for macOSUsage: hubctl command [password] [argument]\n"
    "command:\n"
    "    /Q      query (no password is required)\n"
    "    Usage:  hubctl /Q [option]\n"
    "            hubctl /Q:{P} [option]\n"
    "    /Q          query all Managed USB Hubs\n"
    "    /Q:{C}\n"
    "    option      -F  output in formatted string\n\n"
    "    /S      set port states (password is required)\n"
    "    Usage:  hubctl /S:{P} [pass] [states]\n"
    "    {C}\n"
    "    pass    password, default is used if this argument is not specified\n"
    "    states  port states to be set on, off, toggle or given binary/hex states\n"
    "            1:3,4   port 3 and 4 on\n"
    "            0:3     port 3 off\n"
    "            T:1,2   toggle port 1 and 2 states\n"
    "            0:ALL   all ports off\n"
    "            B:0101  binary, port 1 and 3 on, port 2, 4 off\n"
    "            H:A601  byte hex (little-endian A6 01 ...):\n"
    "                    port 2, 3, 6, 8, 9 on, the others off\n\n"
    "    /F          set port states and save to flash as the initial states\n"
    "    Usage:      similar to set port states (/S)\n\n"
    "    /P              change password (8 characters maximum)\n"
    "    Usage:          hubctl /P:{P} [old_password] new_password\n"
    "    {C}\n"
    "    old_password    old password, default assumed if omitted\n"
    "    new_password    new password\n\n"
    "    /G          get current port states (no password is required)\n"
    "    Usage:      hubctl /G:{P} [option]\n"
    "    /G:{C}\n"
    "    option      -B    output in formatted binary string\n"
    "                -H    output in formatted little-endian hex string\n\n"
    "    /W      save states to flash as the initial states (password is required)\n"
    "    Usage:  hubctl /W:{P} [pass]\n\n"
    "    /T       read Hub description string\n    Usage:   hubctl /T:{P}\n\n"
    "    /X       write Hub description string (password is required)\n"
    "    Usage:   hubctl /X:{P} [pass] 'description string'\n\n"
    "    /U       read Hub UID (Unique ID) string\n    Usage:   hubctl /U:{P}\n\n"
    "    /D      restore to factory default settings (password is required)\n"
    "    Usage:  hubctl /D:{P} [pass]\n\n"
    "    /R      reset the entire Managed USB Hub (password is required)\n"
    "    Usage:  hubctl /R:{P} [pass]\n\n"
    "    /J      Commands in JSON format\n"
    "    Usage:  hubctl /J 'JSON_string'\n"
    "    'JSON_string' is input command and arguments in JSON format\n"
    "    \n"
    "Example: To control port 3 of the hub, follow the steps below:\n"
    "hubctl /Q  (auto search all the hubs connected)\n"
    "hubctl /S:{P} 0:3  (turn OFF port 3, assumed {P} is found by the /Q command)\n"
    "hubctl /S:{P} 1:3  (turn ON port 3)\n\n"
    "Examples to control ports with input JSON string\n"
    "hubctl /J '{\"CMD\":\"Q\"}'  (Query all Hubs)\n"
    "hubctl /J '{\"CMD\":\"SPST\",\"COM\":\"COM3\",\"PSW\":\"abcd\",\"STATES\":\"F4,FF,FF,FF\"}'"
    "  (turn Off ports 1,2,4)\n");

TEST(HubctlProcess, HelpAndMalformedCommandLines) {
    const std::string json = "Error JSON arguments\n", invalid = "Invalid Command!\n";
    const struct {
        Lines args;
        std::string out;
        int status;
    } cases[] = {
        {{}, kHelp, 0},
        {{"/h:cu.usbserial-B00337P8", "x"}, kHelp, 0},
        {{"/?", "a", "b"}, kHelp, 0},
        {{"/J"}, json, 0},
        {{"/j", "a", "b"}, json, 0},
        {{"/Z"}, invalid, 0},
        {{"/\xC3\xA9"}, invalid, 0},  // "/é": two characters, no command letter
        {{"Q"}, invalid, 1},
        {{"\\Q:ttyUSB0"}, invalid, 1},
        {{"/"}, invalid, 1},
        {{""}, invalid, 1},
        {{"/S:x", "a", "b", "c"}, invalid, 1},
    };
    const hubtest::Registry registry;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
        const hubtest::Run run = hubtest::hubctl(c.args, registry);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.status, c.status);
    }
}

// A result a script never got is no success: output that cannot be written
// fails the run, whatever the command's own status.
TEST(HubctlProcess, UnwritableOutputFails) {
    for (const Lines& args : {Lines{}, Lines{"/Q:COM3"}, Lines{"/J", R"({"CMD":"Q"})"}}) {
        SCOPED_TRACE(args.empty() ? "(none)" : args[0]);
        Lines argv{"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/full", HUBCTL_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        const testsupport::ProcessResult r = testsupport::runProcess(argv);
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(r.err, "hubctl: cannot write standard output: No space left on device\n");
    }
}

TEST(Splitter, OperandAndArguments) {
    const struct {
        Lines args;
        std::string command, COM_Name, arg2, arg3;
    } cases[] = {
        {{"/q:cu.usbserial-B00337P8"}, "/Q:CU.USBSERIAL-B00337P8", "cu.usbserial-B00337P8", "", ""},
        // The third character is not looked at.
        {{"/Sxcu.usbserial-B00337P8", "1:3"}, "/SXCU.USBSERIAL-B00337P8", "cu.usbserial-B00337P8",
         "1:3", ""},
        {{"/f:ttyUSB0", "pass", "0:ALL"}, "/F:TTYUSB0", "ttyUSB0", "pass", "0:ALL"},
        // Seven characters (not bytes: "é" is two) is the threshold.
        {{"/Q:cu1"}, "/Q:CU1", "", "", ""},
        {{"/Q:cu12"}, "/Q:CU12", "cu12", "", ""},
        {{"/Q:\xC3\xA9" "12"}, "/Q:\xC3\xA9" "12", "", "", ""},
        {{"/Q:\xC3\xA9" "123"}, "/Q:\xC3\xA9" "123", "\xC3\xA9" "123", "", ""},
        {{"/j", "{\"CMD\":\"Q\"}"}, "/J", "", "{\"CMD\":\"Q\"}", ""},
        // Not exactly "/J", so the JSON argument count does not apply.
        {{"/Jx"}, "/JX", "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const console::Selection sel = console::selectCommand(c.args);
        ASSERT_EQ(sel.kind, console::Selection::Kind::Command);
        EXPECT_EQ(sel.letter, c.command[1]);
        EXPECT_EQ(sel.invocation.command, c.command);
        EXPECT_EQ(sel.invocation.COM_Name, c.COM_Name);
        EXPECT_EQ(sel.invocation.arg2, c.arg2);
        EXPECT_EQ(sel.invocation.arg3, c.arg3);
    }
}

}  // namespace
