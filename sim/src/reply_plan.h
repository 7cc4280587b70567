// How a reply goes out on the wire, once a fault (if any) has had its say.
#pragma once

#include <string>
#include <vector>

#include "sim/virtual_hub.h"

namespace sim {

struct ReplyPlan {
    int delayMillis = 0;              // pause before the first piece
    std::vector<std::string> pieces;  // written in order; none means silence
    int gapMillis = 0;                // pause between pieces
    bool vanish = false;              // close the device instead of replying
};

// `fault` may be null: the reply goes out whole and at once.
ReplyPlan planReply(const std::string& reply, const Fault* fault);

}  // namespace sim
