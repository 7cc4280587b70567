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

int doQuery(const Invocation&) { return notImplemented(); }
int doSetPortState(const Invocation&, const std::string&) { return notImplemented(); }
int doChangePassword(const Invocation&) { return notImplemented(); }
int doGetPortState(const Invocation&) { return notImplemented(); }
int doSaveState(const Invocation&) { return notImplemented(); }
int doRestoreDefault(const Invocation&) { return notImplemented(); }
int doResetHub(const Invocation&) { return notImplemented(); }
int doRdDescr(const Invocation&) { return notImplemented(); }
int doWrDescr(const Invocation&) { return notImplemented(); }
int doRdUID(const Invocation&) { return notImplemented(); }

}  // namespace console
