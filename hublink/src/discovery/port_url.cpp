#include "hublink/port_url.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace hublink {
namespace {

constexpr std::string_view kSeparator = "://";
constexpr std::size_t kMaxHostLength = 253;

struct SchemeEntry {
    std::string_view name;
    PortScheme scheme;
};
constexpr std::array<SchemeEntry, 3> kSchemes{{
    {"rfc2217", PortScheme::rfc2217},
    {"tcp", PortScheme::tcp},
    {"rfc2217+tls", PortScheme::rfc2217Tls},
}};

bool isSchemeChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

bool isHostChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

PortUrlParse failure(std::string error) { return {std::nullopt, std::move(error)}; }

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::optional<PortScheme> schemeOf(std::string_view name) {
    const std::string lower = lowered(name);
    for (const auto& entry : kSchemes)
        if (entry.name == lower) return entry.scheme;
    return std::nullopt;
}

bool looksNumeric(std::string_view host) {
    return std::all_of(host.begin(), host.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) || c == '.';
    });
}

bool parsesAs(int family, std::string_view text) {
    unsigned char buffer[16];
    return ::inet_pton(family, std::string(text).c_str(), buffer) == 1;
}

// Empty when the name or IPv4 address can be used as it is.
std::string plainHostError(std::string_view host) {
    if (host.empty()) return "empty host";
    if (host.size() > kMaxHostLength) return "host name longer than 253 characters";
    const auto bad = std::find_if_not(host.begin(), host.end(), isHostChar);
    if (bad != host.end()) return "invalid character " + quoted({bad, 1}) + " in host";
    if (looksNumeric(host) && !parsesAs(AF_INET, host))
        return quoted(host) + " is not an IPv4 address";
    return {};
}

std::string ipv6HostError(std::string_view host) {
    if (host.empty()) return "empty host";
    if (!parsesAs(AF_INET6, host)) return quoted(host) + " is not an IPv6 address";
    return {};
}

// Host and the text after it; `error` set when the host part is malformed.
struct HostSplit {
    std::string_view host;
    std::string_view rest;
    std::string error;
};

HostSplit splitBracketed(std::string_view text) {
    const auto close = text.find(']');
    if (close == std::string_view::npos) return {{}, {}, "unbalanced brackets: '[' without ']'"};
    const std::string_view host = text.substr(1, close - 1);
    return {host, text.substr(close + 1), ipv6HostError(host)};
}

HostSplit splitPlain(std::string_view text) {
    if (text.find_first_of("[]") != std::string_view::npos)
        return {{}, {}, "unbalanced brackets around the host"};
    const auto colon = text.find(':');
    if (colon != std::string_view::npos && text.find(':', colon + 1) != std::string_view::npos)
        return {{}, {}, "an IPv6 address must be in brackets, as in [::1]:7000"};
    const std::string_view host = text.substr(0, colon);
    return {host, colon == std::string_view::npos ? std::string_view{} : text.substr(colon),
            plainHostError(host)};
}

HostSplit splitHost(std::string_view authority) {
    if (authority.empty()) return {{}, {}, "empty host"};
    return authority.front() == '[' ? splitBracketed(authority) : splitPlain(authority);
}

std::string_view leadingDigits(std::string_view text) {
    const auto end = std::find_if_not(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
    });
    return text.substr(0, std::size_t(end - text.begin()));
}

// 0 when out of 1..65535.
int portNumber(std::string_view digits) {
    if (digits.size() > 5) return 0;
    const int value = std::stoi(std::string(digits));
    return value <= 65535 ? value : 0;
}

// Port from ":digits" at the start of `rest`, or the reason there is none.
std::pair<int, std::string> parsePort(std::string_view rest) {
    if (rest.empty() || rest == ":") return {0, "missing port"};
    if (rest.front() != ':') return {0, "unexpected " + quoted(rest) + " after the host"};
    const std::string_view text = rest.substr(1);
    const std::string_view digits = leadingDigits(text);
    if (digits.empty()) return {0, "port " + quoted(text) + " is not a number"};
    if (digits.size() < text.size())
        return {0, "unexpected " + quoted(text.substr(digits.size())) + " after the port"};
    const int port = portNumber(digits);
    if (port == 0) return {0, "port " + std::string(digits) + " is out of 1..65535"};
    return {port, {}};
}

PortUrlParse parseAuthority(PortScheme scheme, std::string_view authority) {
    const HostSplit split = splitHost(authority);
    if (!split.error.empty()) return failure(split.error);
    auto [port, error] = parsePort(split.rest);
    if (!error.empty()) return failure(std::move(error));
    return {PortUrl{scheme, std::string(split.host), port}, {}};
}

}  // namespace

bool isPortUrl(std::string_view name) {
    const auto at = name.find(kSeparator);
    if (at == std::string_view::npos || at == 0) return false;
    const std::string_view scheme = name.substr(0, at);
    return std::isalpha(static_cast<unsigned char>(scheme.front())) &&
           std::all_of(scheme.begin(), scheme.end(), isSchemeChar);
}

PortUrlParse parsePortUrl(std::string_view name) {
    if (!isPortUrl(name)) return failure(quoted(name) + " is not a URL (SCHEME://HOST:PORT)");
    const auto at = name.find(kSeparator);
    const auto scheme = schemeOf(name.substr(0, at));
    if (!scheme)
        return failure("unknown scheme " + quoted(name.substr(0, at)) +
                       " (rfc2217, tcp or rfc2217+tls)");
    return parseAuthority(*scheme, name.substr(at + kSeparator.size()));
}

std::string_view schemeName(PortScheme scheme) {
    for (const auto& entry : kSchemes)
        if (entry.scheme == scheme) return entry.name;
    return {};
}

std::string portUrlText(const PortUrl& url) {
    const bool v6 = url.host.find(':') != std::string::npos;
    const std::string host = v6 ? "[" + url.host + "]" : url.host;
    return std::string(schemeName(url.scheme)) + "://" + host + ":" + std::to_string(url.port);
}

}  // namespace hublink
