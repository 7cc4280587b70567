// Port names that address a hub exported on another host (ser2net and the
// like). Pure text logic: nothing here resolves a name or opens a socket.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hublink {

enum class PortScheme {
    rfc2217,     // "rfc2217://": telnet with RFC 2217 line control
    tcp,         // "tcp://": raw bytes, the line as the server configured it
    rfc2217Tls,  // "rfc2217+tls://": RFC 2217 inside TLS
};

struct PortUrl {
    PortScheme scheme = PortScheme::rfc2217;
    std::string host;  // a name, dotted IPv4, or IPv6 without its brackets
    int port = 0;      // 1..65535
    bool operator==(const PortUrl&) const = default;
};

// Either a URL or the reason it is none, e.g. "port 70000 is out of 1..65535".
struct PortUrlParse {
    std::optional<PortUrl> url;
    std::string error;  // empty exactly when `url` is set
};

// Whether `name` is meant as a URL: a scheme (a letter, then letters, digits,
// '+', '-', '.') followed by "://". Everything else (tty..., /dev/..., COMn,
// UID...) is left to the serial name resolution; a URL with an unknown scheme
// is still a URL, so parsePortUrl can say what is wrong with it.
bool isPortUrl(std::string_view name);

// Parses SCHEME://HOST:PORT with the scheme in any case. HOST is a name
// (letters, digits, '-', '.', '_'), a dotted IPv4 address, or an IPv6 address
// in brackets; nothing may follow the port.
PortUrlParse parsePortUrl(std::string_view name);

// "rfc2217", "tcp" or "rfc2217+tls".
std::string_view schemeName(PortScheme scheme);

// The URL written back, IPv6 hosts in brackets ("rfc2217://[::1]:7000").
std::string portUrlText(const PortUrl& url);

}  // namespace hublink
