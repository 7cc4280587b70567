// What the main window knows: the hub list and the copies of the selected
// record that every operation works from.
#pragma once

#include <string>
#include <vector>

#include "panel/hub_list.h"

namespace panel {

struct WindowState {
    HubList data;

    // Selection fields, written by the selection step.
    int selectRow = 0;
    std::string selectComport;
    std::string selectPortsperhub;
    std::string selectOn;
    std::string selectOff;
    std::string selectFw;
    std::string selectPassword;
    std::string selectState64;
    std::string selectPID;
    std::string selectUID;
    std::string selectDescription;  // also a description waiting for a password

    std::string selectFunction;  // operation waiting for the password prompt
    // Fields a record must carry to be selected (portdesk's records have no "PID").
    std::vector<std::string> requiredFields = {"ControlPort", "PortsperHub", "On", "Off",
                                               "FW", "Password", "State64", "PID"};
    int switchNumberG = 0;       // -1 all on, 0 all off, 1..16 one port

    // Copies `record` into the selection fields. A record lacking a required
    // field is reported on standard output and changes nothing (false).
    bool takeSelection(const hublink::HubInfo& record, int row);
    // Forgets the selected hub, so nothing can be sent to it.
    void clearSelection();
};

// `text` without the CR and LF characters a reply may leave at its end.
std::string withoutLineEnds(std::string text);

// The record as the console line of the selection step prints it.
std::string printedRecord(const hublink::HubInfo& record);

}  // namespace panel
