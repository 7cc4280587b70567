#include "portstate/port_state.h"

#include <algorithm>
#include <array>

#include "portstate/int_text.h"

namespace portstate {

namespace {

constexpr std::size_t kMaxStateBytes = 8;

enum class PieceReading { Signed, Unsigned };

std::optional<std::uint64_t> readPiece(std::string_view piece, PieceReading how) {
    if (how == PieceReading::Unsigned) return parseUInt64(piece, 16);
    const auto v = parseInt64(piece, 16);
    if (!v) return std::nullopt;
    return static_cast<std::uint64_t>(*v);
}

// Sum of the pieces shifted to their byte positions, without absent-port bits.
std::uint64_t stateSum(std::string_view text, PieceReading how) {
    std::uint64_t sum = 0;
    const auto pieces = splitComma(text, false);
    const std::size_t used = std::min(pieces.size(), kMaxStateBytes);
    for (std::size_t i = 0; i < used; ++i) {
        if (const auto v = readPiece(pieces[i], how)) sum += *v << (8 * i);
    }
    return sum;
}

std::int64_t listedPorts(std::int64_t nPorts) {
    return std::clamp<std::int64_t>(nPorts, 0, kMaxListedPorts);
}

bool bitOfPort(std::uint64_t word, std::int64_t port) {
    return port >= 1 && port <= 64 && ((word >> (port - 1)) & 1u) != 0;
}

void appendPort(std::string& list, std::int64_t port) {
    if (!list.empty()) list += ',';
    list += std::to_string(port);
}

PortLists onOffLists(std::int64_t nPorts, std::uint64_t sum) {
    PortLists lists;
    const std::int64_t n = listedPorts(nPorts);
    for (std::int64_t p = 1; p <= n; ++p) appendPort(bitOfPort(sum, p) ? lists.on : lists.off, p);
    if (lists.on.empty()) lists.on = "None";
    if (lists.off.empty()) lists.off = "None";
    return lists;
}

constexpr std::array<char, 16> kHexUpper = {'0', '1', '2', '3', '4', '5', '6', '7',
                                            '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};

}  // namespace

std::uint64_t absentPortMask(std::int64_t nPorts) {
    if (nPorts >= 64) return 0;
    if (nPorts <= 0) return ~std::uint64_t{0};
    return ~std::uint64_t{0} << nPorts;
}

StateWord Parse_Port_States_int64(std::int64_t nPorts, std::string_view Port_State_String) {
    const std::uint64_t word = stateSum(Port_State_String, PieceReading::Signed) | absentPortMask(nPorts);
    return static_cast<StateWord>(word);
}

PortLists Parse_Port_States(std::int64_t nPorts, std::string_view portStateString) {
    return onOffLists(nPorts, stateSum(portStateString, PieceReading::Signed));
}

PortLists parsePortStates(std::int64_t nPorts, std::string_view portStateString) {
    return onOffLists(nPorts, stateSum(portStateString, PieceReading::Unsigned));
}

std::string states8Of(StateWord word) {
    const auto w = static_cast<std::uint64_t>(word);
    std::string text;
    for (unsigned k = 0; k < 4; ++k) {
        const unsigned byte = static_cast<unsigned>((w >> (8 * k)) & 0xFFu);
        text += kHexUpper[byte >> 4];
        text += kHexUpper[byte & 0xFu];
    }
    return text;
}

std::string binaryStateText(std::int64_t nPorts, std::string_view hubStateText) {
    const auto word = static_cast<std::uint64_t>(Parse_Port_States_int64(nPorts, hubStateText));
    const std::int64_t n = listedPorts(nPorts);
    std::string text;
    text.reserve(static_cast<std::size_t>(n));
    for (std::int64_t p = n; p >= 1; --p) text += bitOfPort(word, p) ? '1' : '0';
    return text;
}

std::string compactHubStateText(std::string_view hubStateText) {
    std::string text;
    for (std::string_view piece : splitComma(hubStateText, false)) text += piece;
    return text;
}

std::optional<std::string> hubStateTextFromReply(std::string_view reply) {
    if (reply.size() < 8 || !isHexText(reply.substr(0, 8))) return std::nullopt;
    std::string text;
    for (std::size_t i = 0; i < 8; i += 2) {
        if (i > 0) text += ',';
        text += reply.substr(i, 2);
    }
    return text;
}

}  // namespace portstate
