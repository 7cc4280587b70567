// The state operand of hubctl /S and /F against a hub whose port count and
// state text come from the input. Beyond surviving, it checks that a refusal
// has the reason the grammar gives and changes nothing, that an accepted
// operand does exactly what its letter says, and that the word sent reads
// back unchanged through every text form of the states (hub state text,
// compact and binary text, the B/H/list operands, the JSON and window forms).
//
// Input: byte 0 picks the port count, then "<hub state text>\n<operand>"
// (without a newline the whole rest is the operand).
#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/command_results.h"
#include "oracle_text.h"
#include "portstate/gui_state.h"
#include "portstate/json_state.h"
#include "portstate/port_state.h"
#include "portstate/state_operand.h"

namespace {

using portstate::StateUpdate;
using portstate::StateWord;

void require(bool condition) {
    if (!condition) std::abort();
}

constexpr std::uint64_t kSentBits = 0xFFFFFFFFu;  // only ports 1..32 reach a hub

std::int64_t portCount(std::uint8_t b) {
    // Real counts, the 32/64-bit edges and counts no hub reports.
    static constexpr std::int64_t odd[] = {
        -1, -2, -63, -64, -65, std::numeric_limits<std::int64_t>::min(),
        std::numeric_limits<std::int64_t>::min() + 1, 1023, 1024, 1025, 100000,
        std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int64_t>::max(),
        std::numeric_limits<std::int64_t>::max() - 1};
    if (b < 0xC0) return b;
    return odd[(b - 0xC0) % std::size(odd)];
}

std::string upperAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

int hexValue(char c) {
    if (c <= '9') return c - '0';
    return (c | 0x20) - 'a' + 10;
}


bool bit(std::uint64_t word, std::int64_t port) { return port >= 1 && port <= 64 && (word >> (port - 1)) & 1u; }

// Length of the well-formed UTF-8 character at `at`, 0 when there is none.
std::size_t utf8CharAt(std::string_view s, std::size_t at) {
    if (at >= s.size()) return 0;
    const auto lead = static_cast<unsigned char>(s[at]);
    const std::size_t n = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2
                        : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (n == 0 || at + n > s.size()) return 0;
    for (std::size_t i = 1; i < n; ++i)
        if ((static_cast<unsigned char>(s[at + i]) & 0xC0u) != 0x80u) return 0;
    return n;
}

bool sameUpdate(const StateUpdate& a, const StateUpdate& b) {
    return a.status == b.status && a.word == b.word && a.states8 == b.states8;
}

StateUpdate apply(std::string_view operand, std::int64_t n, StateWord current) {
    return portstate::Update_Port_State(operand.empty() ? '\0' : operand[0], operand, n, current);
}

// The on and off lists: ascending, together exactly 1..min(n, 1024), a port on
// exactly when its bit is set (ports above 64 have none).
void checkLists(const portstate::PortLists& lists, std::int64_t n, std::uint64_t word) {
    const std::int64_t listed = std::clamp<std::int64_t>(n, 0, portstate::kMaxListedPorts);
    std::vector<std::int64_t> on, off;
    for (auto [text, out] : {std::pair{&lists.on, &on}, std::pair{&lists.off, &off}}) {
        if (*text == "None") continue;
        for (std::string_view piece : fuzzoracle::nonEmptyPieces(*text)) {
            const auto p = fuzzoracle::readInt(piece, 10);
            require(p && piece.front() != '+' && piece.front() != '0');
            out->push_back(*p);
        }
        require(!out->empty() && std::is_sorted(out->begin(), out->end()));
    }
    require(std::int64_t(on.size() + off.size()) == listed);
    std::size_t i = 0, j = 0;
    for (std::int64_t p = 1; p <= listed; ++p) {
        const bool isOn = i < on.size() && on[i] == p;
        require(isOn || (j < off.size() && off[j] == p));
        require(isOn == bit(word, p));
        if (isOn) ++i;
        else ++j;
    }
}

// What the hub state text says, through every reading of it.
StateWord checkHubText(std::int64_t n, std::string_view text) {
    const std::uint64_t mask = portstate::absentPortMask(n);
    const auto word = static_cast<std::uint64_t>(portstate::Parse_Port_States_int64(n, text));
    require((word & mask) == mask);
    checkLists(portstate::Parse_Port_States(n, text), n, word);

    // Pieces of at most 15 hex digits read the same signed and unsigned.
    const auto pieces = fuzzoracle::nonEmptyPieces(text);
    if (std::all_of(pieces.begin(), pieces.end(), [](std::string_view p) {
            return p.size() <= 15 && std::all_of(p.begin(), p.end(), isHex);
        })) {
        const auto a = portstate::Parse_Port_States(n, text), b = portstate::parsePortStates(n, text);
        require(a.on == b.on && a.off == b.off);
    }

    // /G -B is the word, port n first, and reads back as a B operand.
    const std::string binary = portstate::binaryStateText(n, text);
    require(std::int64_t(binary.size()) == std::clamp<std::int64_t>(n, 0, portstate::kMaxListedPorts));
    for (std::size_t k = 0; k < binary.size(); ++k)
        require(binary[binary.size() - 1 - k] == (bit(word, std::int64_t(k) + 1) ? '1' : '0'));
    if (n >= 1 && n <= 63) {
        const StateUpdate back = apply("B:" + binary, n, 0);
        require(back.status == portstate::kStatusOK && std::uint64_t(back.word) == word);
    }

    // A JSON STATES text is taken only when its hex digits are all it holds
    // besides commas and white space, and then as exactly those digits.
    const auto json = portstate::jsonStatesToStates8(std::string(text));
    std::string digits;
    for (char c : upperAscii(text))
        if (isHex(c)) digits += c;
    if (json.status == "OK") require(json.states8 == digits && digits.size() == 8);
    else require(json.states8.empty());
    if (digits.size() == 8 && std::all_of(text.begin(), text.end(), [](char c) { return isHex(c) || c == ','; }))
        require(json.status == "OK");
    return static_cast<StateWord>(word);
}

// The refusal or the result the grammar gives for letter + ":" + arg.
void checkSemantics(char letter, std::string_view arg, std::int64_t n, StateWord current, const StateUpdate& r) {
    const std::uint64_t mask = portstate::absentPortMask(n);
    const auto cur = static_cast<std::uint64_t>(current);
    const auto w = static_cast<std::uint64_t>(r.word);
    const auto refused = [&](std::string_view why) { require(r.status == why); };
    const bool whole = letter == 'B' || letter == 'H';
    if (!whole && letter != '0' && letter != '1' && letter != 'T') return refused(portstate::kStateFormatError);
    if (arg == "ALL") {
        if (whole) return refused(portstate::kErrorArguments);
        require(r.status == portstate::kStatusOK);
        require(w == (letter == '0' ? mask : letter == '1' ? ~std::uint64_t{0} : mask | ~cur));
        return;
    }
    if (letter == 'B') {
        const auto v = fuzzoracle::readInt(arg, 2);
        if (!v) return refused(portstate::kErrorBitStream);
        require(r.status == portstate::kStatusOK && w == (mask | std::uint64_t(*v)));
        return;
    }
    if (letter == 'H') {
        if (arg.size() < 2 || arg.size() > 8 || !std::all_of(arg.begin(), arg.end(), isHex))
            return refused(portstate::kErrorHexString);
        const std::string even = arg.size() % 2 ? "0" + std::string(arg) : std::string(arg);
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < even.size(); i += 2)
            v |= std::uint64_t(hexValue(even[i]) * 16 + hexValue(even[i + 1])) << (4 * i);
        require(r.status == portstate::kStatusOK && w == (mask | v));
        return;
    }
    std::vector<std::int64_t> ports;
    for (std::string_view piece : fuzzoracle::nonEmptyPieces(arg)) {
        const auto p = fuzzoracle::readInt(piece, 10);
        if (!p) return refused(portstate::kErrorPortNumbers);
        ports.push_back(*p);
    }
    if (ports.empty()) return refused(portstate::kErrorPortNumbers);
    if (std::any_of(ports.begin(), ports.end(), [n](std::int64_t p) { return p < 1 || p > n; }))
        return refused(portstate::kInvalidPortNumber);
    require(r.status == portstate::kStatusOK);
    for (std::int64_t p = 1; p <= std::min<std::int64_t>(n, 64); ++p) {
        const auto times = std::count(ports.begin(), ports.end(), p);
        bool expected = bit(cur, p);
        if (times > 0 && letter != 'T') expected = letter == '1';
        if (letter == 'T' && times % 2) expected = !expected;
        require(bit(w, p) == expected);
    }
    require((w & mask) == mask);
}

// The word sent comes back unchanged through each text form.
void checkRoundTrips(std::int64_t n, const StateUpdate& r) {
    const std::uint64_t mask = portstate::absentPortMask(n);
    const std::uint64_t sent = (std::uint64_t(r.word) & kSentBits) | mask;
    require(r.states8 == portstate::states8Of(r.word));
    const auto hubText = portstate::hubStateTextFromReply(r.states8);
    require(hubText.has_value());
    require(std::uint64_t(portstate::Parse_Port_States_int64(n, *hubText)) == sent);
    require(portstate::compactHubStateText(*hubText) == r.states8);

    const auto h = apply("H:" + r.states8, n, 0);
    require(h.status == portstate::kStatusOK && std::uint64_t(h.word) == sent);

    std::string loose;  // the JSON form as a client may type it
    for (std::size_t i = 0; i < 8; i += 2)
        loose += (i ? " ,\xC2\xA0" : " ") + std::string(1, char(r.states8[i] | 0x20)) + r.states8[i + 1];
    require(portstate::jsonStatesToStates8(loose).states8 == r.states8);

    if (n < 1) return;
    // The on list switched on from all off, the off list switched off from all on.
    const auto lists = portstate::Parse_Port_States(n, *hubText);
    const auto allOff = apply("0:ALL", n, 0);
    require(std::uint64_t(allOff.word) == mask);
    const auto fromOn = lists.on == "None" ? allOff : apply("1:" + lists.on, n, allOff.word);
    require(std::uint64_t(fromOn.word) == sent);
    if (n <= 64) {
        const auto fromOff = lists.off == "None" ? apply("1:ALL", n, 0) : apply("0:" + lists.off, n, -1);
        require(std::uint64_t(fromOff.word) == sent);
    }

    // The window's reading of the same state digits.
    if (n > 32) return;
    const auto gui = portstate::parsePortState(n, r.states8);
    require(gui && gui->state64.size() == 32);
    std::string joinedOn, joinedState;
    for (const auto& p : gui->on) joinedOn += (joinedOn.empty() ? "" : ",") + p;
    require(joinedOn == (lists.on == "None" ? "" : lists.on));
    for (std::size_t i = 0; i < 32; ++i) {
        require(gui->state64[i] == (bit(sent, std::int64_t(i) + 1) ? "1" : "0"));
        joinedState += (i ? "," : "") + gui->state64[i];
    }
    const auto numbers = portstate::get_numbers(joinedState);
    require(numbers && portstate::state64Text(*numbers) == r.states8);
}

void checkOperand(std::int64_t n, std::string_view hubText, StateWord current, std::string_view raw) {
    const std::string op = upperAscii(raw);
    const StateUpdate r = apply(op, n, current);
    if (r.status != portstate::kStatusOK) {
        require(r.word == current && r.states8.empty());
    } else {
        checkRoundTrips(n, r);
    }

    // hubctl's own path from the record to the state sent.
    const hublink::HubInfo record{{"nPorts", std::to_string(n)}, {"Port_States", std::string(hubText)}};
    require(sameUpdate(console::stateToSend(op, record), r));

    // The separator is any one character: the same operand with ':' gives
    // the same result. Invalid UTF-8 there is left out.
    const char letter = op.empty() ? '\0' : op[0];
    const std::size_t sep = utf8CharAt(op, 1);
    const bool clean = sep > 0 && (op.size() == 1 + sep || utf8CharAt(op, 1 + sep) > 0);
    const std::string arg = clean ? op.substr(1 + sep) : op.size() > 2 ? op.substr(2) : "";
    const std::string canonical = std::string(1, letter) + ":" + arg;
    const StateUpdate c = apply(canonical, n, current);
    if (clean) require(sameUpdate(c, r));
    // A stray continuation byte joins the character before it; the grammar
    // says nothing about such text.
    if (arg.empty() || (static_cast<unsigned char>(arg[0]) & 0xC0u) != 0x80u)
        checkSemantics(letter, arg, n, current, c);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::int64_t n = portCount(data[0]);
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t nl = rest.find('\n');
    const std::string_view hubText = nl == std::string_view::npos ? std::string_view{} : rest.substr(0, nl);
    const std::string_view operand = nl == std::string_view::npos ? rest : rest.substr(nl + 1);
    const StateWord current = checkHubText(n, hubText);
    checkOperand(n, hubText, current, operand);
    return 0;
}
