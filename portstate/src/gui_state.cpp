#include "portstate/gui_state.h"

#include "portstate/int_text.h"
#include "portstate/port_state.h"

namespace portstate {

namespace {

constexpr std::size_t kStateBits = 32;
constexpr std::int64_t kMaxGuiPorts = 32;

std::uint32_t state64Mask(const std::vector<std::int64_t>& state64) {
    std::uint32_t mask = 0;
    for (std::size_t k = 0; k < kStateBits; ++k)
        if (state64[k] == 1) mask |= std::uint32_t{1} << k;
    return mask;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> stringToBytes(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        if (!isHexDigit(text[i]) || !isHexDigit(text[i + 1])) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(digitValue(text[i]) * 16 + digitValue(text[i + 1])));
    }
    return bytes;
}

std::array<int, 8> bits(std::uint8_t byte) {
    std::array<int, 8> out{};
    for (unsigned i = 0; i < 8; ++i) out[i] = static_cast<int>((byte >> i) & 1u);
    return out;
}

std::vector<std::uint8_t> bitsToBytes(const std::vector<std::int64_t>& bitList) {
    std::vector<std::uint8_t> bytes((bitList.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < bitList.size(); ++i)
        if (bitList[i] == 1) bytes[i / 8] |= static_cast<std::uint8_t>(0x80u >> (i % 8));
    return bytes;
}

std::optional<GuiPortState> parsePortState(std::int64_t portNumbers, std::string_view portState) {
    if (portNumbers < 1 || portNumbers > kMaxGuiPorts) return std::nullopt;
    const auto bytes = stringToBytes(portState);
    if (!bytes || bytes->size() < 4) return std::nullopt;
    GuiPortState state;
    for (std::size_t b = 0; b < 4; ++b)
        for (int bit : bits((*bytes)[b])) state.state64.push_back(bit ? "1" : "0");
    for (std::int64_t i = 0; i < portNumbers; ++i) {
        auto& list = state.state64[static_cast<std::size_t>(i)] == "1" ? state.on : state.off;
        list.push_back(std::to_string(i + 1));
    }
    return state;
}

std::optional<std::vector<std::int64_t>> get_numbers(std::string_view stringtext) {
    std::vector<std::int64_t> numbers;
    for (std::string_view piece : splitComma(stringtext, true)) {
        const auto v = parseInt64(piece, 10);
        if (!v) return std::nullopt;
        numbers.push_back(*v);
    }
    return numbers;
}

std::optional<std::string> state64Text(const std::vector<std::int64_t>& state64) {
    if (state64.size() < kStateBits) return std::nullopt;
    return states8Of(static_cast<StateWord>(state64Mask(state64)));
}

std::optional<std::string> switchStateText(int switchNumber, std::vector<std::int64_t> state64) {
    if (switchNumber == 0) return "00000000";
    if (switchNumber == -1) return "FFFFFFFF";
    if (switchNumber < 1 || switchNumber > 16 || state64.size() < kStateBits) return std::nullopt;
    auto& entry = state64[static_cast<std::size_t>(switchNumber - 1)];
    entry = entry == 0 ? 1 : 0;
    return state64Text(state64);
}

}  // namespace portstate
