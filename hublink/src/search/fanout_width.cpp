#include "search/fanout_width.h"

#include <algorithm>

namespace hublink {

namespace {

std::size_t candidatesIn(std::size_t descriptors, std::size_t each) {
    return descriptors > kDescriptorHeadroom ? (descriptors - kDescriptorHeadroom) / each : 0;
}

}  // namespace

FanoutWidth fanoutWidth(const FanoutNeeds& needs) {
    FanoutWidth out{needs.candidates, FanoutBound::none};
    const auto narrow = [&](std::size_t most, FanoutBound why) {
        if (most < out.width) out = {most, why};
    };
    const std::size_t each = descriptorsEach(needs.connections);
    narrow(needs.maxInFlight, FanoutBound::inFlight);
    narrow(candidatesIn(needs.descriptorLimit, each), FanoutBound::descriptors);
    if (needs.connections)
        narrow(candidatesIn(kConnectionDescriptorCeiling, each), FanoutBound::connections);
    narrow(needs.helpers + 1, FanoutBound::threads);
    // The caller always asks, one at a time if need be.
    if (needs.candidates > 0) out.width = std::max<std::size_t>(out.width, 1);
    return out;
}

namespace {

std::string reasonText(FanoutBound bound, std::size_t descriptorLimit) {
    switch (bound) {
        case FanoutBound::inFlight: return "no search asks more at once";
        case FanoutBound::descriptors:
            return "the limit of " + std::to_string(descriptorLimit) + " open descriptors allows no more";
        case FanoutBound::connections:
            return "network connections need descriptors numbered below " +
                   std::to_string(kConnectionDescriptorCeiling) + ", " +
                   std::to_string(kDescriptorsPerConnection) + " each";
        case FanoutBound::threads: return "no more threads could be started";
        case FanoutBound::none: break;
    }
    return {};
}

}  // namespace

std::string fanoutNotice(const FanoutNeeds& needs, const FanoutWidth& width) {
    if (width.width == 0 || width.width >= needs.candidates) return {};
    const std::size_t batches = (needs.candidates + width.width - 1) / width.width;
    return "asking " + std::to_string(width.width) + " of " + std::to_string(needs.candidates) +
           " ports at a time (" + reasonText(width.bound, needs.descriptorLimit) + "): the search can take " +
           std::to_string(batches) + " timeouts";
}

}  // namespace hublink
