#include "exchange/reply_reader.h"

namespace hublink {

std::string receiveReplyLine(const ByteSource& next, std::uint8_t* buf, int bound) {
    std::uint8_t last = 0;
    for (int stored = 0; stored < bound && last != '\n';) {
        std::uint8_t byte = 0;
        const int n = next(byte);
        // End of data is what a vanished device gives: treated as silence.
        if (n == 0) return "Read Timeout";
        // Storing anything for a failed read would let a dead port fill the
        // buffer with repeats of the last byte and end in "Error Parameters".
        if (n < 0) return "Read Error";
        buf[stored++] = byte;
        last = byte;
    }
    return last == '\n' ? "OK" : "Error Parameters";
}

}  // namespace hublink
