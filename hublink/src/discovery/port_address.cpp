#include "hublink/port_address.h"

#include <utility>

namespace hublink {

PortAddress PortAddress::of(std::string name) {
    PortAddress address;
    if (isPortUrl(name)) {
        PortUrlParse parsed = parsePortUrl(name);
        address.kind = parsed.url ? Kind::url : Kind::badUrl;
        address.url = std::move(parsed.url);
        address.error = std::move(parsed.error);
    }
    address.name = std::move(name);
    return address;
}

}  // namespace hublink
