// What the hub's firmware does with one command line: pure state, no I/O.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

    std::string identify() const;
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
