#include "state_text.h"

#include <cstdio>

namespace sim {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::string formatStates8(std::uint32_t states) {
    char text[9];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X", unsigned(states & 0xFF),
                  unsigned((states >> 8) & 0xFF), unsigned((states >> 16) & 0xFF),
                  unsigned(states >> 24));
    return text;
}

std::optional<std::uint32_t> parseStates8(std::string_view text) {
    if (text.size() != 8) return std::nullopt;
    std::uint32_t states = 0;
    for (int byte = 0; byte < 4; ++byte) {
        int high = hexValue(text[2 * byte]);
        int low = hexValue(text[2 * byte + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        states |= std::uint32_t(high * 16 + low) << (8 * byte);
    }
    return states;
}

std::uint32_t absentPortMask(int ports) {
    if (ports >= 32) return 0;
    if (ports <= 0) return 0xFFFFFFFFu;
    return ~((std::uint32_t(1) << ports) - 1);
}

}  // namespace sim
