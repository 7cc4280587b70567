// Asking one control port whether a hub answers there, and describing it.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hublink/open_failure.h"

namespace hublink {

// A hub info record: field name -> text. The console record has the fields
// "Port_Name", "PID", "nPorts", "FW_Ver", "UID", "Description", "Port_States";
// the window record "ControlPortShort", "TavrinMark", "ControlPort",
// "PortsperHub", "PortsperHubShort", "On", "Off", "FW", "Password", "State64",
// "PID", and for firmware 4 and later "UID" and "Description".
using HubInfo = std::map<std::string, std::string>;

struct QueryResult {
    std::string status;  // "OK", "Query Error!", "Query2 Error!" or "No"
    HubInfo record;      // empty unless status is "OK"
    std::optional<OpenFailure> openFailure{};  // why the port could not be opened
};

// Console query over the console exchange: identify, extended identify for
// firmware 4 and later, get port states. A reply too short for the positions
// read, a port count that is not two decimal digits, or a port-state reply
// that is not 8 hexadecimal digits fails the query (never a partial record).
QueryResult queryHub(const std::string& path);

// Window query over the windowed exchange: a one-element list with the
// window record, or an empty list when the port does not answer or answers
// with replies that cannot be read.
std::vector<HubInfo> QueryHubs2(const std::string& comportPath);

// A window record's "On", "Off" and "State64" as a get-port-states reply
// gives them for the record's "PortsperHubShort" ports; false, and the
// record unchanged, when the reply cannot be read.
bool setWindowPortStates(HubInfo& record, std::string_view reply);

// portdesk's query: identify and get port states only, each through the
// portdesk exchange (reply up to LF or 20 bytes, 2 s + 100 ms per byte); the
// window record without "PID", "UID" and "Description".
std::vector<HubInfo> QueryHubsDesk(const std::string& comportPath);

// A window query's records with the reason its port could not be opened,
// when that is worth telling the user.
struct PortAnswer {
    std::vector<HubInfo> records;
    std::optional<OpenFailure> openFailure{};
};
PortAnswer askHubs2(const std::string& comportPath);     // as QueryHubs2
PortAnswer askHubsDesk(const std::string& comportPath);  // as QueryHubsDesk

// A search's hubs, and the candidates it could not open for a reason worth
// telling, each once, in candidate order.
struct HubSearch {
    std::vector<HubInfo> hubs;
    std::vector<OpenFailure> unopened{};
};
HubSearch findHubs(const std::vector<std::string>& candidates);        // as searchHubs
HubSearch findHubsWindow(const std::vector<std::string>& candidates);  // as searchHubsWindow

// Console hub search: queryHub on every candidate at once (see forEachPort),
// keeping the hubs that answered, in candidate order.
std::vector<HubInfo> searchHubs(const std::vector<std::string>& candidates);

// Window hub search: QueryHubs2 on every candidate at once, records in
// candidate order.
std::vector<HubInfo> searchHubsWindow(const std::vector<std::string>& candidates);

// "<path>, <n> ports, On=<list>, Off=<list>, FW=<fw>[, UID=<uid>, Description=<text>]"
// or "Invalid nPorts".
std::string parseHubInfo(const HubInfo& record);

// "<8 hex digits MSB first>,<n>,<fw>,<uid>,<description>" when a UID is
// present, else "<8 hex><nn><fw>"; or "Invalid nPorts" / "Invalid Port States".
std::string parseHubInfoFormatted(const HubInfo& record);

}  // namespace hublink
