#include "firmware/temp_image.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace firmware {

namespace {

// Where the private directory goes, and the variable that chose the place.
struct Place {
    std::string variable;  // empty: the default /tmp
    std::string root;
    std::string dir;
};

Place place() {
    const std::string uid = std::to_string(::getuid());
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/')
        return {"XDG_RUNTIME_DIR", runtime, std::string(runtime) + "/hubtools"};
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp == '/')
        return {"TMPDIR", tmp, std::string(tmp) + "/hubtools-" + uid};
    return {"", "/tmp", "/tmp/hubtools-" + uid};
}

// Why mkdir failed, naming the variable that sent it there.
std::string cannotCreate(const Place& p, int error) {
    const std::string named = p.variable.empty() ? p.root : p.variable + " names " + p.root;
    if (error == ENOENT) return named + ", which does not exist";
    if (error == ENOTDIR) return named + ", which is not a directory";
    return named + ", where the private temporary directory " + p.dir +
           " cannot be made: " + std::strerror(error);
}

std::string octal(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Empty when `st` is a directory only this user can enter.
std::string refusal(const std::string& dir, const struct stat& st) {
    const std::string head = "the private temporary directory " + dir;
    if (S_ISLNK(st.st_mode)) return head + " is a symbolic link";
    if (!S_ISDIR(st.st_mode)) return head + " is not a directory";
    if (st.st_uid != ::getuid())
        return head + " belongs to another user (uid " + std::to_string(st.st_uid) + ")";
    if ((st.st_mode & 077) != 0) return head + " is open to other users (mode " + octal(st.st_mode) + ")";
    return {};
}

}  // namespace

std::optional<std::string> privateTempDir(std::string& error) {
    const Place p = place();
    if (::mkdir(p.dir.c_str(), 0700) != 0 && errno != EEXIST) {
        error = cannotCreate(p, errno);
        return std::nullopt;
    }
    // lstat: a link planted by someone else must not redirect the image.
    struct stat st{};
    if (::lstat(p.dir.c_str(), &st) != 0) {
        error = p.dir + ": " + std::strerror(errno);
        return std::nullopt;
    }
    error = refusal(p.dir, st);
    if (!error.empty()) return std::nullopt;
    return p.dir;
}

std::optional<std::string> tempImagePath(std::string& error) {
    auto dir = privateTempDir(error);
    if (!dir) return std::nullopt;
    return *dir + "/bin_temp.bin";
}

}  // namespace firmware
