// hubctl's word on the ports it could not open: standard output and exit
// statuses stay what they are for a port without a hub, and standard error
// gets one line per port, "hubctl: <port>: <reason>". Each call below is the
// hub link's, telling what it could not open.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hublink/command_claim.h"
#include "hublink/discovery.h"
#include "hublink/exchange.h"
#include "hublink/hub_query.h"

namespace console::cmd {

void tellUnopened(const std::optional<hublink::OpenFailure>& failure);
void tellUnopened(const std::vector<hublink::OpenFailure>& failures);

hublink::QueryResult queryHub(const std::string& path);
hublink::Exchange sendCommand(const std::string& path, const std::string& line);
hublink::UidReading readUid(const std::string& path);
// The hubs on the console's candidate ports.
std::vector<hublink::HubInfo> searchHubs();
// A resolver's lookup; a UID name tells the candidates its search could not open.
hublink::PortLookup told(hublink::PortLookup lookup);
// The hub's claim, or null when it could not be had.
std::unique_ptr<hublink::CommandClaim> holdHub(const std::string& path);

}  // namespace console::cmd
