// What the hub's firmware does with one command line: pure state, no I/O.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/virtual_hub.h"

namespace sim {

class HubModel {
public:
    // Longest description "ESDD" stores, in bytes.
    static constexpr std::size_t kMaxDescription = 100;

    enum class After { Nothing, Reset, Loader };
    struct Outcome {
        std::string reply;  // ends with LF
        After after = After::Nothing;
    };

    // Throws std::invalid_argument when the config cannot be a hub's.
    explicit HubModel(HubConfig config);

    // `line` is one command line without its CR.
    Outcome handle(std::string_view line);

    // The code of the command `line` invokes ("GP", "SP", ...); empty when
    // the hub refuses the line as no command of its own.
    static std::string_view commandOf(std::string_view line);
    // Every command code, in the order the hub tries them.
    static const std::vector<std::string_view>& commandCodes();
    static bool isCommand(std::string_view code);

    std::uint32_t states() const { return states_; }
    std::uint32_t powerOnStates() const { return powerOnStates_; }
    const std::string& password() const { return password_; }
    const std::string& description() const { return description_; }
    const HubConfig& config() const { return config_; }

    // The application starts afresh (after its loader): power-on states apply.
    void powerUp() { states_ = powerOnStates_; }

    // The firmware text without its first letter, read as decimal; 0 if unreadable.
    static int firmwareNumber(const std::string& firmware);

private:
    using Handler = Outcome (HubModel::*)(std::string_view args);
    struct Command {
        std::string_view code;
        bool bare;  // the whole line, no arguments
        Handler handler;
    };
    static std::span<const Command> commands();
    static const Command* findCommand(std::string_view line);

    std::string identify() const;
    Outcome identifyReply(std::string_view) { return {identify() + "\n"}; }
    Outcome extendedIdentify(std::string_view);
    Outcome getStates(std::string_view);
    bool passwordOk(std::string_view args) const;
    Outcome storeStates(std::string_view args, bool save);
    Outcome setStates(std::string_view args) { return storeStates(args, false); }
    Outcome setAndSave(std::string_view args) { return storeStates(args, true); }
    Outcome saveStates(std::string_view args);
    Outcome changePassword(std::string_view args);
    Outcome writeDescription(std::string_view args);
    Outcome restoreDefaults(std::string_view args);
    Outcome resetHub(std::string_view args);
    Outcome enterFirmwareUpdate(std::string_view args);

    HubConfig config_;
    std::uint32_t states_;
    std::uint32_t powerOnStates_;
    std::string password_;
    std::string description_;
};

}  // namespace sim
