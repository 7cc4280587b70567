#include "hubsim_options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <functional>

#include "fault_option.h"
#include "hub_model.h"
#include "state_text.h"

namespace sim {

namespace {

// Returns an error text, empty when the value was taken.
using Apply = std::function<std::string(SimOptions&, const std::string&)>;

struct OptionRule {
    const char* name;
    bool takesValue;
    Apply apply;
};

std::optional<int> readInt(const std::string& text, int low, int high) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

bool isFirmware(const std::string& v) {
    return v.size() == 3 && std::isalpha(static_cast<unsigned char>(v[0])) &&
           std::isdigit(static_cast<unsigned char>(v[1])) &&
           std::isdigit(static_cast<unsigned char>(v[2]));
}

bool isUid(const std::string& v) {
    if (v.size() != 12) return false;
    for (char c : v)
        if (!std::isgraph(static_cast<unsigned char>(c))) return false;
    return true;
}

// Four uppercase hexadecimal digits: how a firmware file names the product.
bool isProductId(const std::string& v) {
    return v.size() == 4 && std::all_of(v.begin(), v.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
           });
}

std::string setHubs(SimOptions& o, const std::string& v) {
    auto n = readInt(v, 1, kMaxSimHubs);
    if (!n) return "--hubs wants a number from 1 to 64";
    o.hubs = *n;
    return {};
}

std::string setPorts(SimOptions& o, const std::string& v) {
    auto n = readInt(v, 1, 32);
    if (!n) return "--ports wants a number from 1 to 32";
    o.hub.ports = *n;
    return {};
}

std::string setFirmware(SimOptions& o, const std::string& v) {
    if (!isFirmware(v)) return "--firmware wants a letter and two digits, e.g. V04";
    o.hub.firmware = v;
    return {};
}

std::string setUid(SimOptions& o, const std::string& v) {
    if (!isUid(v)) return "--uid wants 12 printable characters";
    o.hub.uid = v;
    return {};
}

std::string setProductId(SimOptions& o, const std::string& v) {
    if (!isProductId(v)) return "--pid wants 4 uppercase hexadecimal digits, e.g. 0AB3";
    o.hub.productId = v;
    return {};
}

std::string setEraseMillis(SimOptions& o, const std::string& v) {
    auto n = readInt(v, 0, 60000);
    if (!n) return "--erase-ms wants a number of milliseconds from 0 to 60000";
    o.hub.eraseTime = std::chrono::milliseconds(*n);
    return {};
}

std::string setDescription(SimOptions& o, const std::string& v) {
    if (v.size() > HubModel::kMaxDescription || v.find_first_of("\r\n") != std::string::npos)
        return "--description wants one line of at most 100 bytes";
    o.hub.description = v;
    return {};
}

std::string setPassword(SimOptions& o, const std::string& v) {
    if (v.empty() || v.size() > 8) return "--password wants 1 to 8 characters";
    o.hub.password = v + std::string(8 - v.size(), ' ');
    return {};
}

std::string setStates(SimOptions& o, const std::string& v) {
    auto states = parseStates8(v);
    if (!states) return "--states wants 8 hexadecimal digits, ports 1-8 first";
    o.hub.states = o.hub.powerOnStates = *states;
    return {};
}

// Faults apply to every hub, in the order given.
std::string addFault(SimOptions& o, const std::string& v) {
    ParsedFault parsed = parseFaultOption(v);
    if (!parsed.fault) return parsed.error;
    if (const Fault* hub = std::get_if<Fault>(&*parsed.fault))
        o.hub.faults.push_back(*hub);
    else
        o.hub.loaderFaults.push_back(std::get<LoaderFault>(*parsed.fault));
    return {};
}

const std::vector<OptionRule>& optionRules() {
    static const std::vector<OptionRule> rules = {
        {"--hubs", true, setHubs},
        {"--ports", true, setPorts},
        {"--firmware", true, setFirmware},
        {"--uid", true, setUid},
        {"--pid", true, setProductId},
        {"--erase-ms", true, setEraseMillis},
        {"--description", true, setDescription},
        {"--password", true, setPassword},
        {"--states", true, setStates},
        {"--fault", true, addFault},
        {"--tree", true, [](SimOptions& o, const std::string& v) {
             o.treeDir = v;
             return v.empty() ? std::string("--tree wants a directory") : std::string();
         }},
        {"--wire", false, [](SimOptions& o, const std::string&) {
             o.hub.wireTiming = true;
             return std::string();
         }},
        {"--help", false, [](SimOptions& o, const std::string&) {
             o.help = true;
             return std::string();
         }},
    };
    return rules;
}

const OptionRule* findRule(const std::string& name) {
    for (const auto& rule : optionRules())
        if (name == rule.name) return &rule;
    return nullptr;
}

}  // namespace

ParsedSimOptions parseSimOptions(const std::vector<std::string>& args) {
    SimOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const OptionRule* rule = findRule(args[i] == "-h" ? "--help" : args[i]);
        if (rule == nullptr) return {std::nullopt, "unknown option " + args[i]};
        std::string value;
        if (rule->takesValue) {
            if (i + 1 >= args.size()) return {std::nullopt, args[i] + " wants a value"};
            value = args[++i];
        }
        std::string error = rule->apply(options, value);
        if (!error.empty()) return {std::nullopt, error};
    }
    return {options, {}};
}

std::string uidForHub(const std::string& uid, int index, int hubs) {
    if (hubs <= 1) return uid;
    std::size_t width = hubs > 10 ? 2 : 1;
    char digits[8];
    std::snprintf(digits, sizeof digits, "%0*d", int(width), index);
    return uid.substr(0, uid.size() - width) + digits;
}

std::vector<HubConfig> hubConfigs(const SimOptions& options) {
    std::vector<HubConfig> configs;
    for (int k = 0; k < options.hubs; ++k) {
        HubConfig config = options.hub;
        config.uid = uidForHub(options.hub.uid, k, options.hubs);
        configs.push_back(config);
    }
    return configs;
}

const char* simUsage() {
    return R"(Usage: hubsim [options]

Starts virtual Managed USB Hubs on pseudo-terminals, prints each hub's device
path on a line of its own, and serves them until SIGINT or SIGTERM.

  --hubs N            number of hubs, 1 to 64 (default 1); with several hubs
                      the last UID digit(s) become the hub's index 0, 1, ...
  --ports N           downstream ports per hub, 1 to 32 (default 4)
  --firmware V04      firmware version; below V04 the hub has no UID or
                      description (default V04)
  --uid UID           12-character UID (default 0123456789AB)
  --pid XXXX          product ID, 4 uppercase hexadecimal digits (default 0AB3)
  --description TEXT  hub description, at most 100 bytes (default Virtual Hub)
  --password PW       1 to 8 characters, padded with spaces (default kiwi)
  --states HEX8       initial and power-on port states as sent to the hub,
                      ports 1-8 first (default 00000000)
  --erase-ms N        time the firmware loader takes to erase its flash before
                      answering the first write packet, 0 to 60000
                      (default 400)
  --wire              pace replies byte by byte: 9600 baud, the loader 115200
  --tree DIR          also build a device registry under DIR (DIR/sys, DIR/dev)
                      with each hub as DIR/dev/ttyUSB<k> on an ftdi_sio
                      adapter, print those paths instead, remove it at exit
  --fault FAULT       make every hub misbehave as FAULT says (repeatable; see
                      Faults below)
  -h, --help          this text

Faults: FAULT is KIND[:COMMAND][:N]. A hub fault strikes every line of
COMMAND (one of ?Q E?Q2 GP SP FP WP CP ESDD RD RH EUFW), or every line when
COMMAND is left out; the command still takes effect, only its reply changes.
With several faults, the first given that fits a line decides its reply.
  silent[:COMMAND]          no reply
  late[:COMMAND]:MS         the reply MS milliseconds late (0 to 60000)
  split[:COMMAND][:N]       the reply in pieces of N bytes (default 1),
                            10 ms apart
  truncate[:COMMAND]:N      only the reply's first N bytes
  garble[:COMMAND]          "#?garbled" in place of the reply
  high-bytes[:COMMAND]      bytes 0x80 and 0xFF before the reply's LF
  reply[:COMMAND]:TEXT      TEXT and an LF in place of the reply
  vanish[:COMMAND]          the device closes on reading the line
  vanish-after[:COMMAND]:N  N lines answered, the device closes on the next
Loader faults are armed afresh each time the loader starts ("EUFW"). K is a
packet's number (its bytes 4-7; a host numbers 1, 1, 3, 5, ...), and a fault
at K strikes the first packet carrying it:
  loader-silent             the loader answers nothing, and keeps the port
  loader-ignore-connects:N  the first N connect packets get no reply
  loader-drop:K             no reply to packet K
  loader-checksum:K         packet K's reply checksum off by one
  loader-number:K           packet K's reply carries a wrong packet number
  loader-split:K            packet K's reply as 62 bytes, 16 ms, the rest
  loader-slow-erase:MS      the erase before the first write reply takes MS
  loader-corrupt:K          one byte of packet K's data written wrongly
  loader-image-checksum     the written image's checksum off by one

After "EUFW" with the right password a hub's firmware loader takes the port;
each image it writes to the end is reported on standard error as
"hubsim: PATH: firmware written, N bytes, checksum 0xXXXX".

Invalid options exit with status 2.
)";
}

}  // namespace sim
