#include "json_hubs.h"

#include "hublink/command_claim.h"

namespace console::jcmd {

hublink::PortLookup SystemHubs::getCOMPort(const std::string& comName) {
    return hublink::getCOMPort(comName);
}

hublink::PortLookup SystemHubs::Get_COM_Port(const std::string& comName) {
    return hublink::Get_COM_Port(comName);
}

std::vector<hublink::HubInfo> SystemHubs::searchHubs() {
    return hublink::searchHubs(hublink::getSerialPortList());
}

hublink::QueryResult SystemHubs::queryHub(const std::string& path) {
    return hublink::queryHub(path);
}

hublink::Exchange SystemHubs::sendCommand(const std::string& path, const std::string& line) {
    return hublink::sendCommand(path, line);
}

hublink::UidReading SystemHubs::GetUID_M031(const std::string& path) {
    return hublink::GetUID_M031(path);
}

std::shared_ptr<void> SystemHubs::holdHub(const std::string& path) {
    auto claim = std::make_shared<hublink::CommandClaim>(path);
    return claim->held() ? claim : nullptr;
}

}  // namespace console::jcmd
