#include "net_identity.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace hublink::net {
namespace {

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string octal(unsigned mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", mode & 07777);
    return text;
}

// Why `path` (named by `name`) cannot serve; empty when it can.
std::string unusable(const char* name, const std::string& path, bool secret) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::string(name) + "=" + path + ": " + std::strerror(errno);
    if (!S_ISREG(st.st_mode)) return std::string(name) + "=" + path + ": not a regular file";
    if (secret && (st.st_mode & 077) != 0)
        return std::string(name) + "=" + path + ": permissions " + octal(st.st_mode) +
               " are too open: other users may read the key (chmod 600 " + path + ")";
    return {};
}

}  // namespace

ClientIdentity clientIdentity() {
    ClientIdentity id{variable("HUBLINK_CERT"), variable("HUBLINK_KEY"), {}};
    if (id.cert.empty() && id.key.empty()) return id;
    if (id.key.empty()) id.error = "HUBLINK_CERT is set but HUBLINK_KEY, its key, is not";
    else if (id.cert.empty()) id.error = "HUBLINK_KEY is set but HUBLINK_CERT, its certificate, is not";
    else id.error = unusable("HUBLINK_CERT", id.cert, false);
    if (id.error.empty()) id.error = unusable("HUBLINK_KEY", id.key, true);
    return id;
}

}  // namespace hublink::net
