// The windowed exchange's receive loop, apart from the port so that failing
// reads can be exercised without a failing device.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace hublink {

// One attempt to receive one byte into `byte`: returns 1 when stored, 0 when
// the wait ran out or the device reported end of data, -1 on failure.
using ByteSource = std::function<int(std::uint8_t& byte)>;

// Stores bytes from `next` into `buf` until LF or `bound` bytes. Returns
// "OK" (last byte LF), "Error Parameters" (bound reached first, or bound not
// above 0), "Read Timeout" or "Read Error". A failed attempt stores nothing.
std::string receiveReplyLine(const ByteSource& next, std::uint8_t* buf, int bound);

}  // namespace hublink
