#include "desk/desk_services.h"

#include <cstring>
#include <hublink/cppmain.h>
#include <hublink/discovery.h>
#include <hublink/hub_query.h>

namespace desk {

std::vector<std::string> DeskHubSource::allPorts() {
    return hublink::getSerialPortList(hublink::Frontend::Desk);
}

panel::HubList DeskHubSource::query(const std::string& path) { return hublink::QueryHubsDesk(path); }

panel::LinkReply DeskLink::exchange(const std::string& port, const std::string& command,
                                    const hublink::ReceiveLimits& /*limits*/) {
    std::uint8_t buffer[33] = {};  // zero-filled, longer than any reply read
    panel::LinkReply out;
    out.result = hublink::CPPMain_Wrapper().Send_Command_Wrapper(
        port, command, buffer, hublink::kDeskWaitSeconds, hublink::kDeskWaitMilliseconds);
    const char* text = reinterpret_cast<const char*>(buffer);
    out.reply.assign(text, strnlen(text, sizeof buffer));
    return out;
}

}  // namespace desk
