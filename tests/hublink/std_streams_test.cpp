// A program started with standard descriptors closed gets /dev/null there,
// so the next descriptor it opens lands above 2.
#include "hublink/std_streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_rdev == b.st_rdev;
}

// In a child: closes `closed`, repairs, opens a file. Exit bits: 1 repair
// failed, 2 the new descriptor is below 3, 4 a closed one is not /dev/null,
// 8 an open one was replaced.
int childStatus(const std::vector<int>& closed) {
    struct stat before[3], null{};
    for (int fd = 0; fd <= 2; ++fd) ::fstat(fd, &before[fd]);
    ::stat("/dev/null", &null);
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (int fd : closed) ::close(fd);
        int bits = hublink::ensureStdStreams() ? 0 : 1;
        const int opened = ::open("/dev/zero", O_RDONLY);
        if (opened < 3) bits |= 2;
        for (int fd = 0; fd <= 2; ++fd) {
            struct stat now{};
            ::fstat(fd, &now);
            const bool wasClosed = std::find(closed.begin(), closed.end(), fd) != closed.end();
            if (wasClosed && !sameFile(now, null)) bits |= 4;
            if (!wasClosed && !sameFile(now, before[fd])) bits |= 8;
        }
        ::_exit(bits);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(StdStreams, ClosedStandardDescriptorsAreFilled) {
    const std::vector<std::vector<int>> cases = {{}, {0}, {1}, {2}, {1, 2}, {0, 2}, {0, 1, 2}};
    for (const auto& closed : cases) {
        SCOPED_TRACE(testing::PrintToString(closed));
        EXPECT_EQ(childStatus(closed), 0);
    }
}

}  // namespace
