#include "hublink/port_url.h"

#include <gtest/gtest.h>

#include <string>

namespace hublink {
namespace {

TEST(PortUrl, TellsUrlsFromSerialNames) {
    const struct {
        std::string name;
        bool url;
    } cases[] = {
        {"rfc2217://hub:7000", true},
        {"TCP://hub:7000", true},
        {"telnet://hub:23", true},  // unknown, but a URL: parsing says why it fails
        {"a1+b-c.d://x", true},
        {"ttyUSB0", false},
        {"/dev/ttyUSB0", false},
        {"COM3", false},
        {"UID0123456789AB", false},
        {"://hub:7000", false},
        {"1tcp://hub:7000", false},
        {"tcp:/hub:7000", false},
        {"/dev/odd://name", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isPortUrl(c.name), c.url) << c.name;
}

TEST(PortUrl, ParsesSchemesAndHosts) {
    const struct {
        std::string name;
        PortUrl url;
    } cases[] = {
        {"rfc2217://hub.lab:7000", {PortScheme::rfc2217, "hub.lab", 7000}},
        {"tcp://10.0.0.7:2001", {PortScheme::tcp, "10.0.0.7", 2001}},
        {"rfc2217+tls://hub-3:1", {PortScheme::rfc2217Tls, "hub-3", 1}},
        {"RFC2217+TLS://Hub_3:65535", {PortScheme::rfc2217Tls, "Hub_3", 65535}},
        {"rfc2217://[::1]:7000", {PortScheme::rfc2217, "::1", 7000}},
        {"tcp://[fe80::1:2]:07000", {PortScheme::tcp, "fe80::1:2", 7000}},
        {"tcp://[::ffff:127.0.0.1]:9", {PortScheme::tcp, "::ffff:127.0.0.1", 9}},
    };
    for (const auto& c : cases) {
        const PortUrlParse parsed = parsePortUrl(c.name);
        ASSERT_TRUE(parsed.url) << c.name << ": " << parsed.error;
        EXPECT_EQ(*parsed.url, c.url) << c.name;
        EXPECT_TRUE(parsed.error.empty());
    }
}

TEST(PortUrl, SaysPreciselyWhyNot) {
    const struct {
        std::string name;
        std::string error;
    } cases[] = {
        {"ttyUSB0", "'ttyUSB0' is not a URL (SCHEME://HOST:PORT)"},
        {"telnet://hub:23", "unknown scheme 'telnet' (rfc2217, tcp or rfc2217+tls)"},
        {"rfc2217+ssl://hub:23", "unknown scheme 'rfc2217+ssl' (rfc2217, tcp or rfc2217+tls)"},
        {"tcp://hub", "missing port"},
        {"tcp://hub:", "missing port"},
        {"tcp://[::1]", "missing port"},
        {"tcp://hub:0", "port 0 is out of 1..65535"},
        {"tcp://hub:65536", "port 65536 is out of 1..65535"},
        {"tcp://hub:99999999999999999999", "port 99999999999999999999 is out of 1..65535"},
        {"tcp://hub:http", "port 'http' is not a number"},
        {"tcp://hub:-1", "port '-1' is not a number"},
        {"tcp://hub:7000/", "unexpected '/' after the port"},
        {"tcp://hub:7000 ", "unexpected ' ' after the port"},
        {"tcp://[::1]x:7000", "unexpected 'x:7000' after the host"},
        {"tcp://", "empty host"},
        {"tcp://:7000", "empty host"},
        {"tcp://[]:7000", "empty host"},
        {"tcp://[::1:7000", "unbalanced brackets: '[' without ']'"},
        {"tcp://::1]:7000", "unbalanced brackets around the host"},
        {"tcp://::1:7000", "an IPv6 address must be in brackets, as in [::1]:7000"},
        {"tcp://[hub]:7000", "'hub' is not an IPv6 address"},
        {"tcp://[1.2.3.4]:7000", "'1.2.3.4' is not an IPv6 address"},
        {"tcp://300.1.1.1:7000", "'300.1.1.1' is not an IPv4 address"},
        {"tcp://1.2.3:7000", "'1.2.3' is not an IPv4 address"},
        {"tcp://user@hub:7000", "invalid character '@' in host"},
        {"tcp://hub,tcp,evil:7000", "invalid character ',' in host"},
        {"tcp://hub(x):7000", "invalid character '(' in host"},
        {"tcp://" + std::string(254, 'h') + ":7000", "host name longer than 253 characters"},
    };
    for (const auto& c : cases) {
        const PortUrlParse parsed = parsePortUrl(c.name);
        EXPECT_FALSE(parsed.url) << c.name;
        EXPECT_EQ(parsed.error, c.error) << c.name;
    }
}

TEST(PortUrl, WritesBackWhatItParsed) {
    for (const std::string name :
         {"rfc2217://hub.lab:7000", "tcp://[::1]:1", "rfc2217+tls://10.1.2.3:65535"}) {
        const PortUrlParse parsed = parsePortUrl(name);
        ASSERT_TRUE(parsed.url) << name;
        EXPECT_EQ(portUrlText(*parsed.url), name);
    }
}

}  // namespace
}  // namespace hublink
