#include "firmware/temp_image.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace firmware {

namespace {

std::string baseDirectory() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/')
        return std::string(runtime) + "/hubtools";
    const char* tmp = std::getenv("TMPDIR");
    const std::string root = tmp && *tmp == '/' ? tmp : "/tmp";
    return root + "/hubtools-" + std::to_string(::getuid());
}

}  // namespace

std::optional<std::string> privateTempDir(std::string& error) {
    const std::string dir = baseDirectory();
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        error = dir + ": " + std::strerror(errno);
        return std::nullopt;
    }
    // lstat: a link planted by someone else must not redirect the image.
    struct stat st{};
    if (::lstat(dir.c_str(), &st) != 0) {
        error = dir + ": " + std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 077) != 0) {
        error = dir + ": not a private directory of this user";
        return std::nullopt;
    }
    return dir;
}

std::optional<std::string> tempImagePath(std::string& error) {
    auto dir = privateTempDir(error);
    if (!dir) return std::nullopt;
    return *dir + "/bin_temp.bin";
}

}  // namespace firmware
