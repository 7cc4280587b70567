#include "line_assembler.h"

namespace sim {

std::vector<std::string> LineAssembler::feed(std::string_view bytes) {
    std::vector<std::string> lines;
    for (char c : bytes) {
        if (c == '\n') continue;
        if (c == '\r') {
            if (!overlong_) lines.push_back(line_);
            line_.clear();
            overlong_ = false;
        } else if (line_.size() < kMaxLine) {
            line_.push_back(c);
        } else {
            overlong_ = true;
        }
    }
    return lines;
}

}  // namespace sim
