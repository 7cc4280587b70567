#include "firmware/log_sink.h"

#include <cstdio>

namespace firmware {

LogSink stdoutLog() {
    return [](const std::string& line) {
        if (std::ferror(stdout)) return;  // a reader that went away stops the trace
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    };
}

}  // namespace firmware
