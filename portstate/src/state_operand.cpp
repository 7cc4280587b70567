#include "portstate/state_operand.h"

#include "portstate/int_text.h"

namespace portstate {

namespace {

// Skips `count` UTF-8 characters: the separator may be any character, not just one byte.
std::string_view dropCharacters(std::string_view text, int count) {
    std::size_t i = 0;
    for (int c = 0; c < count && i < text.size(); ++c) {
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0u) == 0x80u) ++i;
    }
    return text.substr(i);
}

WordResult fail(std::string_view status) { return {std::string(status), std::nullopt}; }

StateUpdate failed(std::string_view status, StateWord current) {
    return {std::string(status), current, {}};
}

StateUpdate succeeded(std::uint64_t word) {
    const auto w = static_cast<StateWord>(word);
    return {std::string(kStatusOK), w, states8Of(w)};
}

bool isListLetter(char funct) { return funct == '0' || funct == '1' || funct == 'T'; }

std::uint64_t applyAll(char funct, std::uint64_t mask, std::uint64_t current) {
    if (funct == '0') return mask;
    if (funct == '1') return ~std::uint64_t{0};
    return mask | ~current;
}

StateUpdate applyWhole(const WordResult& r, std::uint64_t mask, StateWord current) {
    if (!r.value) return failed(r.status, current);
    return succeeded(mask | static_cast<std::uint64_t>(*r.value));
}

StateUpdate applyPortList(char funct, std::string_view list, std::int64_t nPorts, StateWord current) {
    const PortListResult parsed = Parse_Integer_String(list);
    if (parsed.status != kStatusOK || parsed.ports.empty()) return failed(kErrorPortNumbers, current);
    auto word = static_cast<std::uint64_t>(current);
    for (std::int64_t p : parsed.ports) {
        if (p < 1 || p > nPorts) return failed(kInvalidPortNumber, current);
        if (p > 64) continue;  // no bit for it in the word
        const std::uint64_t bit = std::uint64_t{1} << (p - 1);
        if (funct == '0') word &= ~bit;
        else if (funct == '1') word |= bit;
        else word ^= bit;
    }
    return succeeded(word | absentPortMask(nPorts));
}

}  // namespace

WordResult Bit_Stream_To_Hex(std::string_view bits) {
    const auto v = parseInt64(bits, 2);
    if (!v) return fail(kErrorBitStream);
    return {std::string(kStatusOK), *v};
}

WordResult Little_Endian_To_Hex(std::string_view hex) {
    if (hex.size() < 2 || hex.size() > 8 || !isHexText(hex)) return fail(kErrorHexString);
    std::string even = hex.size() % 2 == 0 ? std::string(hex) : "0" + std::string(hex);
    std::string reversed;
    for (std::size_t i = even.size(); i >= 2; i -= 2) reversed += even.substr(i - 2, 2);
    const auto v = parseInt64(reversed, 16);
    if (!v) return fail(kErrorHexString);
    return {std::string(kStatusOK), *v};
}

PortListResult Parse_Integer_String(std::string_view portList) {
    PortListResult result{std::string(kStatusOK), {}};
    for (std::string_view piece : splitComma(portList, false)) {
        const auto v = parseInt64(piece, 10);
        if (!v) return {std::string(kErrorPortNumbers), {}};
        result.ports.push_back(*v);
    }
    return result;
}

StateUpdate Update_Port_State(char funct, std::string_view sPS, std::int64_t nPorts, StateWord current) {
    const std::string_view arg = dropCharacters(sPS, 2);
    const std::uint64_t mask = absentPortMask(nPorts);
    const bool whole = funct == 'B' || funct == 'H';
    if (!whole && !isListLetter(funct)) return failed(kStateFormatError, current);
    if (arg == "ALL") {
        if (whole) return failed(kErrorArguments, current);
        return succeeded(applyAll(funct, mask, static_cast<std::uint64_t>(current)));
    }
    if (funct == 'B') return applyWhole(Bit_Stream_To_Hex(arg), mask, current);
    if (funct == 'H') return applyWhole(Little_Endian_To_Hex(arg), mask, current);
    return applyPortList(funct, arg, nPorts, current);
}

}  // namespace portstate
