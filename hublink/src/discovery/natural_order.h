// Ordering of device names as people read them: runs of digits compare by
// value, so ttyUSB2 sorts before ttyUSB10.
#pragma once

#include <string_view>

namespace hublink {

// Strict weak order; ties between equal values ("ttyS01" and "ttyS1") fall
// back to plain byte order so the result stays deterministic.
bool naturalLess(std::string_view a, std::string_view b);

}  // namespace hublink
