#include "json_hubs.h"

#include "unopened_ports.h"

namespace console::jcmd {

hublink::PortLookup SystemHubs::getCOMPort(const std::string& comName) {
    return cmd::told(hublink::getCOMPort(comName));
}

hublink::PortLookup SystemHubs::Get_COM_Port(const std::string& comName) {
    return cmd::told(hublink::Get_COM_Port(comName));
}

std::vector<hublink::HubInfo> SystemHubs::searchHubs() {
    return cmd::searchHubs();
}

hublink::QueryResult SystemHubs::queryHub(const std::string& path) {
    return cmd::queryHub(path);
}

hublink::Exchange SystemHubs::sendCommand(const std::string& path, const std::string& line) {
    return cmd::sendCommand(path, line);
}

hublink::UidReading SystemHubs::GetUID_M031(const std::string& path) {
    return cmd::readUid(path);
}

std::shared_ptr<void> SystemHubs::holdHub(const std::string& path) {
    return cmd::holdHub(path);
}

}  // namespace console::jcmd
