// The hub commands of hubctl, one per command letter. Each reads the values
// the entry filled in, prints its result or its one failure line to standard
// output and returns the process exit status.
#pragma once

#include <string>

#include "console/entry.h"

namespace console {

int doQuery(const Invocation& inv);                                   // /Q
// /S and /F; `code` is the hub command code, "SP" or "FP".
int doSetPortState(const Invocation& inv, const std::string& code);
int doChangePassword(const Invocation& inv);                          // /P
int doGetPortState(const Invocation& inv);                            // /G
int doSaveState(const Invocation& inv);                               // /W
int doRestoreDefault(const Invocation& inv);                          // /D
int doResetHub(const Invocation& inv);                                // /R
int doRdDescr(const Invocation& inv);                                 // /T
int doWrDescr(const Invocation& inv);                                 // /X
int doRdUID(const Invocation& inv);                                   // /U
int doJsonCmd(const Invocation& inv);                                 // /J; JSON text in arg2

}  // namespace console
