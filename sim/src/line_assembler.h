// Turns the byte pieces read from the wire into command lines.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

class LineAssembler {
public:
    // Longer lines are dropped whole: the hub's receive buffer is this small.
    static constexpr std::size_t kMaxLine = 256;

    // Returns the lines that CR completed in `bytes`, without their CR. LF is
    // ignored wherever it appears; a partial line is kept for the next call.
    std::vector<std::string> feed(std::string_view bytes);

private:
    std::string line_;
    bool overlong_ = false;
};

}  // namespace sim
