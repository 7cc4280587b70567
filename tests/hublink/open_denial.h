// Makes the transports' open fail for chosen paths with a chosen errno, as
// it fails for a user who may not open them (root, running the tests, may
// open everything), and counts the attempts. One denial at a time.
#pragma once

#include <fcntl.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <string>
#include <vector>

#include "line/device_open.h"

namespace hubtest {

class OpenDenial {
public:
    OpenDenial(const std::vector<std::string>& paths, int error) : error_(error) {
        for (const std::string& path : paths) attempts_[path] = 0;
        active = this;
        previous_ = hublink::replaceOpenCall(&deniedOpen);
    }
    ~OpenDenial() {
        hublink::replaceOpenCall(previous_);
        active = nullptr;
    }
    OpenDenial(const OpenDenial&) = delete;
    OpenDenial& operator=(const OpenDenial&) = delete;

    int attempts(const std::string& path) const { return attempts_.at(path).load(); }

private:
    static int deniedOpen(const char* path, int flags) {
        const auto it = active->attempts_.find(path);
        if (it == active->attempts_.end()) return ::open(path, flags);
        ++it->second;
        errno = active->error_;
        return -1;
    }

    static inline OpenDenial* active = nullptr;
    std::map<std::string, std::atomic<int>> attempts_;
    int error_;
    hublink::OpenCall previous_ = nullptr;
};

}  // namespace hubtest
