// The hub operations the JSON commands use, behind one small interface so the
// commands can run without a port (tests, the request fuzzer).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hublink/discovery.h"
#include "hublink/exchange.h"
#include "hublink/hub_query.h"

namespace console::jcmd {

class HubAccess {
public:
    virtual ~HubAccess() = default;
    // Resolver of "QH".
    virtual hublink::PortLookup getCOMPort(const std::string& comName) = 0;
    // Resolver of every other command.
    virtual hublink::PortLookup Get_COM_Port(const std::string& comName) = 0;
    // Records of the hubs that answer on the candidate ports, in port order.
    virtual std::vector<hublink::HubInfo> searchHubs() = 0;
    virtual hublink::QueryResult queryHub(const std::string& path) = 0;
    virtual hublink::Exchange sendCommand(const std::string& path, const std::string& line) = 0;
    virtual hublink::UidReading GetUID_M031(const std::string& path) = 0;
    // Keeps other processes off the hub on `path` until the returned holder
    // goes; null when that could not be had. Hubs without a port need none.
    virtual std::shared_ptr<void> holdHub(const std::string& /*path*/) {
        return std::make_shared<int>(0);
    }
};

// The host's control ports through the hub link.
class SystemHubs final : public HubAccess {
public:
    hublink::PortLookup getCOMPort(const std::string& comName) override;
    hublink::PortLookup Get_COM_Port(const std::string& comName) override;
    std::vector<hublink::HubInfo> searchHubs() override;
    hublink::QueryResult queryHub(const std::string& path) override;
    hublink::Exchange sendCommand(const std::string& path, const std::string& line) override;
    hublink::UidReading GetUID_M031(const std::string& path) override;
    std::shared_ptr<void> holdHub(const std::string& path) override;
};

}  // namespace console::jcmd
