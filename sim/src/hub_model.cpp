#include "hub_model.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <stdexcept>

#include "state_text.h"

namespace sim {

namespace {

using Outcome = HubModel::Outcome;

const Outcome kRefused{"E00\n"};
const Outcome kWrongPassword{"E01\n"};
const Outcome kAccepted{"G\n"};

void require(bool ok, const char* what) {
    if (!ok) throw std::invalid_argument(std::string("HubConfig: ") + what);
}

bool hasLineEnd(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

void validate(const HubConfig& c) {
    require(c.ports >= 1 && c.ports <= 32, "ports must be 1..32");
    require(c.productId.size() == 4, "productId must have 4 characters");
    require(c.firmware.size() == 3, "firmware must have 3 characters");
    require(c.uid.size() == 12, "uid must have 12 characters");
    require(c.password.size() == 8, "password must have 8 characters");
    require(c.description.size() <= HubModel::kMaxDescription && !hasLineEnd(c.description),
            "description must be one line of at most 100 bytes");
    require(c.resetSilence.count() >= 0 && c.eraseTime.count() >= 0 &&
                c.loaderListen.count() >= 0 && c.bootTime.count() >= 0,
            "resetSilence, eraseTime, loaderListen and bootTime must not be negative");
    for (const Fault& fault : c.faults)
        require(fault.command.empty() || HubModel::isCommand(fault.command),
                "a fault names a command the hub does not know");
}

}  // namespace

HubModel::HubModel(HubConfig config) : config_(std::move(config)) {
    validate(config_);
    states_ = config_.states;
    powerOnStates_ = config_.powerOnStates;
    password_ = config_.password;
    description_ = config_.description;
}

int HubModel::firmwareNumber(const std::string& firmware) {
    int number = 0;
    if (firmware.size() < 2) return 0;
    const char* first = firmware.data() + 1;
    auto [end, error] = std::from_chars(first, firmware.data() + firmware.size(), number);
    return error == std::errc() && end != first ? number : 0;
}

std::string HubModel::identify() const {
    char ports[3];
    std::snprintf(ports, sizeof ports, "%02d", config_.ports);
    return "TAVRIN" + config_.productId + ports + config_.firmware;
}

std::span<const HubModel::Command> HubModel::commands() {
    static const Command table[] = {
        {"?Q", true, &HubModel::identifyReply},      {"E?Q2", true, &HubModel::extendedIdentify},
        {"GP", true, &HubModel::getStates},          {"SP", false, &HubModel::setStates},
        {"FP", false, &HubModel::setAndSave},        {"WP", false, &HubModel::saveStates},
        {"CP", false, &HubModel::changePassword},    {"ESDD", false, &HubModel::writeDescription},
        {"RD", false, &HubModel::restoreDefaults},   {"RH", false, &HubModel::resetHub},
        {"EUFW", false, &HubModel::enterFirmwareUpdate},
    };
    return table;
}

const HubModel::Command* HubModel::findCommand(std::string_view line) {
    for (const Command& command : commands())
        if (command.bare ? line == command.code : line.starts_with(command.code)) return &command;
    return nullptr;
}

std::string_view HubModel::commandOf(std::string_view line) {
    const Command* command = findCommand(line);
    return command ? command->code : std::string_view();
}

const std::vector<std::string_view>& HubModel::commandCodes() {
    static const std::vector<std::string_view> codes = [] {
        std::vector<std::string_view> list;
        for (const Command& command : commands()) list.push_back(command.code);
        return list;
    }();
    return codes;
}

bool HubModel::isCommand(std::string_view code) {
    const auto& codes = commandCodes();
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

Outcome HubModel::handle(std::string_view line) {
    const Command* command = findCommand(line);
    if (command == nullptr) return kRefused;
    return (this->*command->handler)(line.substr(command->code.size()));
}

Outcome HubModel::extendedIdentify(std::string_view) {
    if (firmwareNumber(config_.firmware) < 4) return kRefused;
    return {identify() + config_.uid + description_ + (config_.extendedCrLf ? "\r\n" : "\n")};
}

Outcome HubModel::getStates(std::string_view) {
    return {formatStates8(states_ | absentPortMask(config_.ports)) + "\n"};
}

bool HubModel::passwordOk(std::string_view args) const {
    return args.size() >= 8 && args.substr(0, 8) == password_;
}

Outcome HubModel::storeStates(std::string_view args, bool save) {
    if (args.size() != 16) return kRefused;
    if (!passwordOk(args)) return kWrongPassword;
    auto states = parseStates8(args.substr(8));
    if (!states) return kRefused;
    states_ = *states;
    if (save) powerOnStates_ = *states;
    return {"G" + formatStates8(states_) + "\n"};
}

Outcome HubModel::saveStates(std::string_view args) {
    if (args.size() != 8 && args.size() != 16) return kRefused;
    if (!passwordOk(args)) return kWrongPassword;
    if (args.size() == 8) {
        powerOnStates_ = states_;
        return kAccepted;
    }
    auto states = parseStates8(args.substr(8));
    if (!states) return kRefused;
    powerOnStates_ = *states;
    return kAccepted;
}

Outcome HubModel::changePassword(std::string_view args) {
    if (args.size() != 16) return kRefused;
    if (!passwordOk(args)) return kWrongPassword;
    password_ = std::string(args.substr(8));
    return kAccepted;
}

Outcome HubModel::writeDescription(std::string_view args) {
    if (firmwareNumber(config_.firmware) < 4 || args.size() < 8) return kRefused;
    if (!passwordOk(args)) return kWrongPassword;
    std::string_view text = args.substr(8);
    if (text.size() > kMaxDescription) return kRefused;
    description_ = std::string(text);
    return kAccepted;
}

Outcome HubModel::restoreDefaults(std::string_view args) {
    if (args.size() != 8) return kRefused;
    if (!passwordOk(args)) return kWrongPassword;
    states_ = config_.states;
    powerOnStates_ = config_.powerOnStates;
    password_ = std::string(kFactoryPassword);
    description_ = config_.description;
    return kAccepted;
}

Outcome HubModel::resetHub(std::string_view args) {
    if (args.size() != 8) return kRefused;
    if (!passwordOk(args)) return kWrongPassword;
    powerUp();
    return {"G\n", After::Reset};
}

Outcome HubModel::enterFirmwareUpdate(std::string_view args) {
    if (args.size() != 8) return kRefused;
    if (!passwordOk(args)) return kWrongPassword;
    return {"G\n", After::Loader};
}

}  // namespace sim
