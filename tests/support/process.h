// Runs a program to completion with a deadline and captures its output.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace testsupport {

struct ProcessResult {
    int exitStatus = -1;   // exit status, or -1 when killed or not started
    int signal = 0;        // the signal that ended it, 0 when it exited
    bool timedOut = false;
    std::string out;
    std::string err;
};

struct ProcessOptions {
    // Entries ("NAME=value") added to the current environment.
    std::vector<std::string> env;
    // A process still running at the deadline is killed.
    std::chrono::milliseconds timeout = std::chrono::seconds(20);
    // Standard descriptors (0, 1, 2) the child starts without, as after
    // `>&-`; output it writes there is neither captured nor seen.
    std::vector<int> closed;
    // Standard output's pipe is closed after this many bytes, as `| head -c N`
    // does; `out` keeps those bytes.
    std::size_t outLimit = std::numeric_limits<std::size_t>::max();
    // Runs on a thread of its own once the child started (to signal it, for
    // example); joined before runProcess returns. It must return by itself.
    std::function<void(pid_t)> alongside;
};

// argv[0] is the program path. The child starts with the default action for
// every signal and none blocked, whatever the test process set.
ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options);

ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env = {},
                         std::chrono::milliseconds timeout = std::chrono::seconds(20));

}  // namespace testsupport
