// The usage text printed by help, kept apart from the logic so its bytes are
// easy to compare with what users see.
#include "console/entry.h"

namespace console {

namespace {
// Raw literal: every blank and line break below is printed as it stands.
constexpr char kUsage[] =
R"USAGE(Usage: hubctl command [password] [argument]
command:
    /Q      query (no password is required)
    Usage:  hubctl /Q [option]
            hubctl /Q:cu.usbserial-B00337P8 [option]
    /Q          query all Managed USB Hubs
    /Q:cu.usbserial-B00337P8  control port cu.usbserial-B00337P8, cu.usbmodemBFCPx1961171, or UID0123456789AB
    option      -F  output in formatted string

    /S      set port states (password is required)
    Usage:  hubctl /S:cu.usbserial-B00337P8 [pass] [states]
    cu.usbserial-B00337P8  control port cu.usbserial-B00337P8, cu.usbmodemBFCPx1961171, or UID0123456789AB
    pass    password, default is used if this argument is not specified
    states  port states to be set on, off, toggle or given binary/hex states
            1:3,4   port 3 and 4 on
            0:3     port 3 off
            T:1,2   toggle port 1 and 2 states
            0:ALL   all ports off
            B:0101  binary, port 1 and 3 on, port 2, 4 off
            H:A601  byte hex (little-endian A6 01 ...):
                    port 2, 3, 6, 8, 9 on, the others off

    /F          set port states and save to flash as the initial states
    Usage:      similar to set port states (/S)

    /P              change password (8 characters maximum)
    Usage:          hubctl /P:cu.usbserial-B00337P8 [old_password] new_password
    cu.usbserial-B00337P8  control port cu.usbserial-B00337P8, cu.usbmodemBFCPx1961171, or UID0123456789AB
    old_password    old password, default assumed if omitted
    new_password    new password

    /G          get current port states (no password is required)
    Usage:      hubctl /G:cu.usbserial-B00337P8 [option]
    /G:cu.usbserial-B00337P8  control port cu.usbserial-B00337P8, cu.usbmodemBFCPx1961171, or UID0123456789AB
    option      -B    output in formatted binary string
                -H    output in formatted little-endian hex string

    /W      save states to flash as the initial states (password is required)
    Usage:  hubctl /W:cu.usbserial-B00337P8 [pass]

    /T       read Hub description string
    Usage:   hubctl /T:cu.usbserial-B00337P8

    /X       write Hub description string (password is required)
    Usage:   hubctl /X:cu.usbserial-B00337P8 [pass] 'description string'

    /U       read Hub UID (Unique ID) string
    Usage:   hubctl /U:cu.usbserial-B00337P8

    /D      restore to factory default settings (password is required)
    Usage:  hubctl /D:cu.usbserial-B00337P8 [pass]

    /R      reset the entire Managed USB Hub (password is required)
    Usage:  hubctl /R:cu.usbserial-B00337P8 [pass]

    /J      Commands in JSON format
    Usage:  hubctl /J 'JSON_string'
    'JSON_string' is input command and arguments in JSON format
)USAGE"
    // A line of four blanks, spelled out so no editor trims it.
    "    \n"
R"USAGE(Example: To control port 3 of the hub, follow the steps below:
hubctl /Q  (auto search all the hubs connected)
hubctl /S:cu.usbserial-B00337P8 0:3  (turn OFF port 3, assumed cu.usbserial-B00337P8 is found by the /Q command)
hubctl /S:cu.usbserial-B00337P8 1:3  (turn ON port 3)

Examples to control ports with input JSON string
hubctl /J '{"CMD":"Q"}'  (Query all Hubs)
hubctl /J '{"CMD":"SPST","COM":"COM3","PSW":"abcd","STATES":"F4,FF,FF,FF"}'  (turn Off ports 1,2,4))USAGE";
}  // namespace

const std::string_view helpMsg_MacOS{kUsage, sizeof kUsage - 1};

}  // namespace console
