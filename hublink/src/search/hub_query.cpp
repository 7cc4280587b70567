#include "hublink/hub_query.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "hublink/command_claim.h"
#include "hublink/cppmain.h"
#include "hublink/exchange.h"
#include "hublink/port_fanout.h"
#include "hublink/protocol.h"
#include "portstate/gui_state.h"
#include "portstate/int_text.h"
#include "portstate/port_state.h"

namespace hublink {
namespace {

constexpr std::string_view kMark = "TAVRIN";
constexpr std::size_t kIdentifyLength = 15;   // mark, product id, port count, firmware
constexpr std::size_t kUidEnd = 27;            // UID occupies positions 15-26

bool allDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

std::string field(const HubInfo& record, const std::string& key) {
    auto it = record.find(key);
    return it == record.end() ? std::string() : it->second;
}

bool isIdentifyReply(const Exchange& ex) {
    return ex.ok() && ex.reply.rfind(kMark, 0) == 0 && ex.reply.size() >= kIdentifyLength &&
           allDigits(std::string_view(ex.reply).substr(10, 2));
}

// A failed query keeps the reason its port could not be opened.
QueryResult failedQuery(std::string status, const Exchange& failed) {
    return {std::move(status), {}, failed.openFailure};
}

// Reads the buffer of a windowed exchange as text, never past its end.
std::string bufferText(const std::vector<std::uint8_t>& buf) {
    const char* p = reinterpret_cast<const char*>(buf.data());
    return std::string(p, strnlen(p, buf.size()));
}

}  // namespace

namespace {

// A hub on another host is asked over one connection, held for the whole
// query: a connection per exchange would cost the server a device open each.
struct RemoteHold {
    explicit RemoteHold(const PortAddress& port)
        : claim(port.remote() ? std::make_unique<CommandClaim>(port) : nullptr) {}
    // The connection could not be had: the query has nothing to ask.
    bool failed() const { return claim && !claim->held(); }
    std::optional<OpenFailure> failure() const { return claim ? claim->failure() : std::nullopt; }
    std::unique_ptr<CommandClaim> claim;
};

}  // namespace

QueryResult queryHub(const std::string& path) {
    const PortAddress port = PortAddress::of(path);
    const RemoteHold hold(port);
    if (hold.failed()) return failedQuery("Query Error!", Exchange{"No", "", false, hold.failure()});
    Exchange identify = sendCommand(port, identifyCommand());
    if (!isIdentifyReply(identify)) return failedQuery("Query Error!", identify);
    const std::string& id = identify.reply;
    HubInfo record{{"Port_Name", path},        {"PID", id.substr(6, 4)},
                   {"nPorts", id.substr(10, 2)}, {"FW_Ver", id.substr(12, 3)},
                   {"UID", ""},                  {"Description", ""}};

    auto family = consoleFirmwareVersion(record["FW_Ver"]);
    if (family && hasExtendedIdentify(*family)) {
        Exchange ext = sendCommand(port, extendedIdentifyCommand());
        if (!ext.ok() || ext.reply.rfind(kMark, 0) != 0 || ext.reply.size() < kUidEnd)
            return failedQuery("Query2 Error!", ext);
        record["UID"] = ext.reply.substr(kIdentifyLength, 12);
        // The hub ends this reply with one more character before its LF.
        if (ext.reply.size() > kUidEnd)
            record["Description"] = ext.reply.substr(kUidEnd, ext.reply.size() - 1 - kUidEnd);
    }

    Exchange states = sendCommand(port, getPortStatesCommand());
    if (!states.ok()) return failedQuery(states.status, states);
    auto hubText = portstate::hubStateTextFromReply(states.reply);
    if (!hubText) return {"No", {}};
    record["Port_States"] = *hubText;
    return {"OK", std::move(record)};
}

namespace {

struct WindowReplies {
    // One zero byte beyond the largest bound keeps the text terminated even
    // when a reply fills the whole bound.
    std::vector<std::uint8_t> buf =
        std::vector<std::uint8_t>(std::size_t(kExtendedIdentifyLimits.bufferSize) + 1, 0);

    std::optional<OpenFailure> openFailure;  // of the exchange that could not open

    // One windowed exchange into the shared buffer; true when it ended "OK".
    bool exchange(const std::string& port, const std::string& cmd, const ReceiveLimits& limits) {
        CPPMain_Wrapper bridge;
        const bool ok = bridge.Send_Command_Wrapper(port, cmd, buf.data(), limits.bound,
                                                    limits.bufferSize, limits.seconds,
                                                    limits.milliseconds) == "OK";
        if (bridge.openFailure()) openFailure = bridge.openFailure();
        return ok;
    }
};

std::string joined(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& item : items) {
        if (!out.empty()) out += ',';
        out += item;
    }
    return out;
}

}  // namespace

bool setWindowPortStates(HubInfo& record, std::string_view reply) {
    const auto ports = record.find("PortsperHubShort");
    if (ports == record.end() || !allDigits(ports->second) || ports->second.empty()) return false;
    const auto gui = portstate::parsePortState(std::stoi(ports->second), reply.substr(0, 8));
    if (!gui) return false;
    record["On"] = joined(gui->on);
    record["Off"] = joined(gui->off);
    record["State64"] = joined(gui->state64);
    return true;
}

namespace {

// The two window queries differ in their exchange; the record is the same.
using WindowExchange = std::function<bool(const std::string& cmd, const ReceiveLimits& limits)>;

// Identify and port states into the window record, "PID" included; none
// when either reply is missing or unreadable.
std::optional<HubInfo> windowRecord(const std::string& comportPath, const WindowExchange& exchange,
                                    const std::vector<std::uint8_t>& buf) {
    if (!exchange(identifyCommand(), kSearchQueryLimits)) return std::nullopt;
    const std::string id = bufferText(buf);
    if (id.size() < kIdentifyLength || !allDigits(id.substr(10, 2))) return std::nullopt;
    const std::string portCount = id.substr(10, 2);
    const std::string firmware = id.substr(12, 3);

    if (!exchange(getPortStatesCommand(), kSearchQueryLimits)) return std::nullopt;
    const int ports = std::stoi(portCount);
    HubInfo record{{"ControlPortShort", comportPath}, {"TavrinMark", id.substr(0, 6)},
                   {"ControlPort", comportPath},      {"PortsperHub", portCount},
                   {"PortsperHubShort", std::to_string(ports)},
                   {"FW", firmware},                  {"Password", windowUnstatedPassword()},
                   {"PID", id.substr(6, 4)}};
    if (!setWindowPortStates(record, bufferText(buf))) return std::nullopt;
    return record;
}

// The extended identify's fields into a firmware 4 record; false when its
// reply is missing or too short.
bool addExtendedFields(HubInfo& record, const WindowExchange& exchange,
                       const std::vector<std::uint8_t>& buf) {
    if (!exchange(extendedIdentifyCommand(), kExtendedIdentifyLimits)) return false;
    const std::string text = bufferText(buf);
    if (text.size() < kUidEnd) return false;
    record["UID"] = text.substr(kIdentifyLength, 12);
    record["Description"] =
        text.size() > kUidEnd ? text.substr(kUidEnd, text.size() - 1 - kUidEnd) : "";
    return true;
}

std::vector<HubInfo> windowRecords(const std::string& comportPath, WindowReplies& io) {
    const WindowExchange exchange = [&](const std::string& cmd, const ReceiveLimits& limits) {
        return io.exchange(comportPath, cmd, limits);
    };
    auto record = windowRecord(comportPath, exchange, io.buf);
    if (!record) return {};
    if (hasExtendedIdentify(windowFirmwareVersion((*record)["FW"])) &&
        !addExtendedFields(*record, exchange, io.buf))
        return {};
    return {std::move(*record)};
}

// Each port's answer through `ask`: the records in candidate order, and the
// ports that could not be opened, each once.
template <class Answer, class Ask, class Take>
HubSearch collect(const std::vector<std::string>& candidates, Ask ask, Take take) {
    HubSearch found;
    for (Answer& answer : askEachPort<Answer>(candidates, ask)) {
        take(answer, found.hubs);
        if (answer.openFailure) found.unopened.push_back(std::move(*answer.openFailure));
    }
    return found;
}

}  // namespace

PortAnswer askHubs2(const std::string& comportPath) {
    const RemoteHold hold(PortAddress::of(comportPath));
    if (hold.failed()) return {{}, hold.failure()};
    WindowReplies io;
    std::vector<HubInfo> records = windowRecords(comportPath, io);
    return {std::move(records), io.openFailure};
}

std::vector<HubInfo> QueryHubs2(const std::string& comportPath) {
    return askHubs2(comportPath).records;
}

PortAnswer askHubsDesk(const std::string& comportPath) {
    const RemoteHold hold(PortAddress::of(comportPath));
    if (hold.failed()) return {{}, hold.failure()};
    // A fresh zero-filled buffer per command, longer than any reply read.
    std::vector<std::uint8_t> buf(kDeskReplyBound + 12, 0);
    std::optional<OpenFailure> openFailure;
    const WindowExchange exchange = [&](const std::string& cmd, const ReceiveLimits&) {
        std::fill(buf.begin(), buf.end(), 0);
        CPPMain_Wrapper bridge;
        const bool ok = bridge.Send_Command_Wrapper(comportPath, cmd, buf.data(), kDeskWaitSeconds,
                                                    kDeskWaitMilliseconds) == "OK";
        if (bridge.openFailure()) openFailure = bridge.openFailure();
        return ok;
    };
    auto record = windowRecord(comportPath, exchange, buf);
    if (!record) return {{}, openFailure};
    record->erase("PID");
    return {{std::move(*record)}, openFailure};
}

std::vector<HubInfo> QueryHubsDesk(const std::string& comportPath) {
    return askHubsDesk(comportPath).records;
}

HubSearch findHubs(const std::vector<std::string>& candidates) {
    return collect<QueryResult>(candidates, queryHub, [](QueryResult& result, auto& hubs) {
        if (result.status == "OK") hubs.push_back(std::move(result.record));
    });
}

HubSearch findHubsWindow(const std::vector<std::string>& candidates) {
    return collect<PortAnswer>(candidates, askHubs2, [](PortAnswer& answer, auto& hubs) {
        for (auto& record : answer.records) hubs.push_back(std::move(record));
    });
}

std::vector<HubInfo> searchHubs(const std::vector<std::string>& candidates) {
    return findHubs(candidates).hubs;
}

std::vector<HubInfo> searchHubsWindow(const std::vector<std::string>& candidates) {
    return findHubsWindow(candidates).hubs;
}

std::string parseHubInfo(const HubInfo& record) {
    auto ports = portstate::parseInt64(field(record, "nPorts"), 10);
    if (!ports) return "Invalid nPorts";
    auto lists = portstate::parsePortStates(*ports, field(record, "Port_States"));
    std::string line = field(record, "Port_Name") + ", " + std::to_string(*ports) +
                       " ports, On=" + lists.on + ", Off=" + lists.off +
                       ", FW=" + field(record, "FW_Ver");
    const std::string uid = field(record, "UID");
    if (!uid.empty()) line += ", UID=" + uid + ", Description=" + field(record, "Description");
    return line;
}

std::string parseHubInfoFormatted(const HubInfo& record) {
    auto ports = portstate::parseInt64(field(record, "nPorts"), 10);
    if (!ports) return "Invalid nPorts";
    const std::string states = field(record, "Port_States");
    const auto pieces = portstate::splitComma(states, false);
    if (pieces.size() < 4) return "Invalid Port States";
    std::string word;
    for (int i = 3; i >= 0; --i) word += pieces[std::size_t(i)];
    const std::string uid = field(record, "UID");
    if (!uid.empty())
        return word + "," + std::to_string(*ports) + "," + field(record, "FW_Ver") + "," + uid +
               "," + field(record, "Description");
    char count[32];
    std::snprintf(count, sizeof count, "%02lld", static_cast<long long>(*ports));
    return word + count + field(record, "FW_Ver");
}

}  // namespace hublink
