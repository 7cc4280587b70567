// A control port's name classified once, for the layers below discovery: a
// device path (a terminal) or a hub on another host by its URL. A UID is no
// address: discovery resolves it to one of these first.
#pragma once

#include <optional>
#include <string>

#include "hublink/port_url.h"

namespace hublink {

struct PortAddress {
    enum class Kind {
        device,  // `name` is a path to open
        url,     // `url` is the parsed URL, `name` its text as given
        badUrl,  // `name` is meant as a URL but is none; `error` says why
    };
    Kind kind = Kind::device;
    std::string name;            // as given: letters as typed, nothing resolved
    std::optional<PortUrl> url;  // set exactly for Kind::url
    std::string error;           // set exactly for Kind::badUrl

    // A URL when `name` is meant as one (see isPortUrl), else a device path.
    static PortAddress of(std::string name);
    bool remote() const { return kind != Kind::device; }
};

}  // namespace hublink
