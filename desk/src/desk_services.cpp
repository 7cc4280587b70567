#include "desk/desk_services.h"

#include <cstring>
#include <hublink/cppmain.h>
#include <hublink/discovery.h>
#include <hublink/hub_query.h>

namespace desk {

// Every serial device, then the configured hubs on other hosts.
std::vector<std::string> DeskHubSource::allPorts() {
    return hublink::getSerialPortList(hublink::Frontend::Desk);
}

panel::HubList DeskHubSource::query(const std::string& path) {
    hublink::PortAnswer answer = hublink::askHubsDesk(path);
    panel::tellUnopened(answer.openFailure);
    return std::move(answer.records);
}

panel::LinkReply DeskLink::exchange(const std::string& port, const std::string& command,
                                    const hublink::ReceiveLimits& /*limits*/) {
    std::uint8_t buffer[33] = {};  // zero-filled, longer than any reply read
    hublink::CPPMain_Wrapper bridge;
    panel::LinkReply out;
    out.result = bridge.Send_Command_Wrapper(port, command, buffer, hublink::kDeskWaitSeconds,
                                             hublink::kDeskWaitMilliseconds);
    out.openFailure = bridge.openFailure();
    const char* text = reinterpret_cast<const char*>(buffer);
    out.reply.assign(text, strnlen(text, sizeof buffer));
    return out;
}

}  // namespace desk
