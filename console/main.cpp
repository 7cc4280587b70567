// hubctl: one hub command per run. Exit status 0 on success, 1 on failure.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "console/entry.h"
#include "hublink/std_streams.h"

namespace {

// A script must not take a result it never got for a success: output that
// could not be written (a full disk, a closed pipe) fails the run.
int checkedStatus(int status) {
    std::cout.flush();
    const int err = errno;
    if (std::cout.good() && std::fflush(stdout) == 0) return status;
    std::fprintf(stderr, "hubctl: cannot write standard output: %s\n",
                 std::strerror(err != 0 ? err : EIO));
    return status != 0 ? status : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (!hublink::ensureStdStreams()) return 1;
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        errno = 0;
        return checkedStatus(console::runEntry(args, std::cout));
    } catch (const std::exception& e) {
        std::cout << "Unexpected error: " << e.what() << '\n';
    } catch (...) {
        std::cout << "Unexpected error\n";
    }
    return checkedStatus(1);
}
