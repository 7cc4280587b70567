// Placeholder commands: the entry links and dispatches while the real
// commands are written. Each says so and fails.
#include <iostream>

#include "console/commands.h"

namespace console {

namespace {
int notImplemented() {
    std::cout << "Command not implemented yet\n";
    return 1;
}
}  // namespace

int doJsonCmd(const Invocation&) { return notImplemented(); }

}  // namespace console
