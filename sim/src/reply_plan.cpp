#include "reply_plan.h"

#include <algorithm>

namespace sim {

namespace {

std::vector<std::string> splitInto(const std::string& reply, int count) {
    std::size_t size = std::size_t(std::max(count, 1));
    std::vector<std::string> pieces;
    for (std::size_t at = 0; at < reply.size(); at += size) pieces.push_back(reply.substr(at, size));
    return pieces;
}

std::string withHighBytes(std::string reply) {
    std::size_t lf = reply.rfind('\n');
    if (lf == std::string::npos) lf = reply.size();
    reply.insert(lf, "\x80\xFF");
    return reply;
}

}  // namespace

ReplyPlan planReply(const std::string& reply, const Fault* fault) {
    ReplyPlan plan;
    if (fault == nullptr) {
        plan.pieces = {reply};
        return plan;
    }
    switch (fault->kind) {
        case Fault::Kind::Silent: break;
        case Fault::Kind::Delay:
            plan.delayMillis = std::max(fault->millis, 0);
            plan.pieces = {reply};
            break;
        case Fault::Kind::Split:
            plan.pieces = splitInto(reply, fault->count);
            plan.gapMillis = std::max(fault->millis, 0);
            break;
        case Fault::Kind::Truncate:
            plan.pieces = {reply.substr(0, std::size_t(std::max(fault->count, 0)))};
            break;
        case Fault::Kind::Garble: plan.pieces = {"#?garbled\n"}; break;
        case Fault::Kind::HighBytes: plan.pieces = {withHighBytes(reply)}; break;
        case Fault::Kind::Raw: plan.pieces = {fault->raw}; break;
        case Fault::Kind::Vanish: plan.vanish = true; break;
    }
    return plan;
}

}  // namespace sim
