// Runs a program to completion with a deadline and captures its output.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace testsupport {

struct ProcessResult {
    int exitStatus = -1;   // exit status, or -1 when killed or not started
    bool timedOut = false;
    std::string out;
    std::string err;
};

// argv[0] is the program path. `env` entries ("NAME=value") are added to the
// current environment. A process still running at the deadline is killed.
ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env = {},
                         std::chrono::milliseconds timeout = std::chrono::seconds(20));

}  // namespace testsupport
