// Command line of the hubsim program.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/virtual_hub.h"

namespace sim {

struct SimOptions {
    int hubs = 1;
    HubConfig hub;         // the first hub; the others differ in their UID
    std::string treeDir;   // empty: no fake registry
    bool help = false;
};

struct ParsedSimOptions {
    std::optional<SimOptions> options;
    std::string error;  // set when options is empty
};

constexpr int kMaxSimHubs = 64;

// `args` excludes the program name.
ParsedSimOptions parseSimOptions(const std::vector<std::string>& args);

// One config per hub; with several hubs the UIDs end in the hub's index.
std::vector<HubConfig> hubConfigs(const SimOptions& options);

// `uid` with its last digit(s) replaced by `index`, so that hubs differ.
std::string uidForHub(const std::string& uid, int index, int hubs);

const char* simUsage();

}  // namespace sim
