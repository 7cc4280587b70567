// The commands of `hubctl /J`: one handler per "CMD", each answering with the
// reply object and the form it is printed in.
#pragma once

#include <string_view>

#include "json_hubs.h"
#include "json_reply.h"
#include "json_request.h"

namespace console::jcmd {

struct Answer {
    Reply reply;
    ReplyForm form;
};

// The whole request: the command word must be "/J", `jsonText` an object whose
// "CMD" names a command; then that command's handler.
Answer jsonAnswer(std::string_view commandWord, std::string_view jsonText, HubAccess& hubs);

// Handlers. Port errors come first, then arguments in their order; nothing is
// sent before every argument has been read.
Answer jQueryAllHubs(const Request& req, HubAccess& hubs);                       // "Q"
Answer jQueryHub(const Request& req, HubAccess& hubs);                           // "QH"
// "SPST" ("SP") and "SPSF" ("FP").
Answer jSetPortState(const Request& req, std::string_view code, HubAccess& hubs);
Answer jChangePassword(const Request& req, HubAccess& hubs);                     // "CPSW"
Answer jGetPortState(const Request& req, HubAccess& hubs);                       // "GPST"
Answer jSaveState(const Request& req, HubAccess& hubs);                          // "SVPS"
Answer jRestoreDefault(const Request& req, HubAccess& hubs);                     // "RSDF"
Answer jResetHub(const Request& req, HubAccess& hubs);                           // "RSHB"
Answer jRdDescr(const Request& req, HubAccess& hubs);                            // "RDES"
Answer jWrDescr(const Request& req, HubAccess& hubs);                            // "WDES"
Answer jRdUID(const Request& req, HubAccess& hubs);                              // "RUID"

}  // namespace console::jcmd
