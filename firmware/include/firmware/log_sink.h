// Where the firmware code writes its trace lines.
#pragma once

#include <functional>
#include <string>

namespace firmware {

// Receives one log line at a time, without its line end. An empty sink
// discards the lines; callers test it before building costly lines.
using LogSink = std::function<void(const std::string& line)>;

// Writes each line to standard output and flushes it, as the window does.
// Once a write failed (a pipe closed early), the lines are dropped.
LogSink stdoutLog();

}  // namespace firmware
