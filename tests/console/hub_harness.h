// Running the built hubctl against virtual hubs: a private device registry
// and one table runner shared by the console and the JSON command tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/fake_registry.h"
#include "sim/virtual_hub.h"

namespace hubtest {

using Lines = std::vector<std::string>;

// A device registry in a fresh temporary directory (named `dir` inside it),
// so that no device of the host is ever asked.
class Registry {
public:
    explicit Registry(const std::string& dir = "reg");
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;
    // Lists `target` as DIR/dev/`ttyName`; returns that path.
    std::string add(const std::string& ttyName, const std::string& target);
    const std::string& root() const { return fake_->root(); }

private:
    std::string base_;
    std::unique_ptr<sim::FakeRegistry> fake_;
};

struct Run {
    int status = -1;
    std::string out;
};

// hubctl with `args` (after the program name), reading `registry`.
Run hubctl(const Lines& args, const Registry& registry);

// The exchanges of a hub query: V03 hubs get no extended identify.
extern const Lines kQueryV04;
extern const Lines kQueryV03;
Lines operator+(Lines first, const Lines& second);

sim::Fault raw(const std::string& bytes);
sim::Fault silent();
// `fault` on the reply after `skipped` normal ones (the hub query's, say).
std::vector<sim::Fault> after(int skipped, const sim::Fault& fault);

// One command line against one fresh hub; "@hub" in the arguments and in
// `out` stands for the hub's device path.
struct HubCase {
    Lines args;
    std::string out;  // all of standard output
    int status = 0;
    Lines sent = {};  // every line the hub received, in order
    sim::HubConfig hub = {};
    std::vector<sim::Fault> faults = {};
    bool listed = false;  // the hub is in the registry (for "UID..." ports)
};

void runHubCases(const std::vector<HubCase>& cases);

}  // namespace hubtest
