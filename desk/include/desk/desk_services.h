// What portdesk talks to: every serial device of the registry, its own
// query, and its own command exchange.
#pragma once

#include <panel/hub_list.h>
#include <panel/hub_operations.h>

namespace desk {

// Every serial device (no name filter), queried with identify and get port
// states only.
class DeskHubSource : public panel::HubSource {
public:
    std::vector<std::string> allPorts() override;
    // portdesk has no search by typed port.
    std::vector<std::string> portsMatching(const std::string&) override { return {}; }
    panel::HubList query(const std::string& path) override;
};

// portdesk's exchange: reply up to LF or 20 bytes, 2 s + 100 ms per byte,
// whatever the operation; the limits hubpanel passes do not apply.
class DeskLink : public panel::CommandLink {
public:
    panel::LinkReply exchange(const std::string& port, const std::string& command,
                              const hublink::ReceiveLimits& limits) override;
};

}  // namespace desk
