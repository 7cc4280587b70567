#include "unopened_ports.h"

#include <cstdio>

namespace console::cmd {

void tellUnopened(const std::optional<hublink::OpenFailure>& failure) {
    if (failure) std::fprintf(stderr, "hubctl: %s\n", hublink::openFailureText(*failure).c_str());
}

void tellUnopened(const std::vector<hublink::OpenFailure>& failures) {
    for (const hublink::OpenFailure& failure : failures) tellUnopened(failure);
}

hublink::QueryResult queryHub(const std::string& path) {
    hublink::QueryResult result = hublink::queryHub(path);
    tellUnopened(result.openFailure);
    return result;
}

hublink::Exchange sendCommand(const std::string& path, const std::string& line) {
    hublink::Exchange exchange = hublink::sendCommand(path, line);
    tellUnopened(exchange.openFailure);
    return exchange;
}

hublink::UidReading readUid(const std::string& path) {
    hublink::UidReading reading = hublink::GetUID_M031(path);
    tellUnopened(reading.openFailure);
    return reading;
}

std::vector<hublink::HubInfo> searchHubs() {
    hublink::HubSearch search = hublink::findHubs(hublink::getSerialPortList());
    tellUnopened(search.unopened);
    return std::move(search.hubs);
}

hublink::PortLookup told(hublink::PortLookup lookup) {
    tellUnopened(lookup.unopened);
    return lookup;
}

std::unique_ptr<hublink::CommandClaim> holdHub(const std::string& path) {
    auto claim = std::make_unique<hublink::CommandClaim>(path);
    if (claim->held()) return claim;
    tellUnopened(claim->failure());
    return nullptr;
}

}  // namespace console::cmd
