#include "hublink/port_fanout.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <map>
#include <mutex>
#include <set>

#include "hublink/port_url.h"
#include "search/fanout_width.h"
#include "search/worker_pool.h"

namespace hublink {

namespace {

// The device a path names, whatever link (a registry's dev/ entries) leads
// to it: one stat where resolving every link of the path took a readlink
// per component. A URL names its own connection.
std::string deviceOf(const std::string& path) {
    struct stat st {};
    if (isPortUrl(path) || ::stat(path.c_str(), &st) != 0) return path;
    // No path holds a NUL, so a device key never meets a path.
    return std::string(1, '\0') + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

// Indices grouped by device, groups in order of their first index.
std::vector<std::vector<std::size_t>> groupByDevice(const std::vector<std::string>& ports) {
    std::map<std::string, std::size_t> groupOf;
    std::vector<std::vector<std::size_t>> groups;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const auto [it, added] = groupOf.emplace(deviceOf(ports[i]), groups.size());
        if (added) groups.emplace_back();
        groups[it->second].push_back(i);
    }
    return groups;
}

// The soft limit on open descriptors raised towards `wanted`, as far as the
// hard limit allows; the soft limit that holds then.
std::size_t descriptorLimitFor(std::size_t wanted) {
    struct rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return wanted;  // nothing known: no bound
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= wanted) return wanted;
    const rlim_t target = static_cast<rlim_t>(wanted);
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? target : std::min(target, limit.rlim_max);
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0 && getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    return static_cast<std::size_t>(limit.rlim_cur);
}

// On standard error, each text once in the process's life (a window that
// searches after every click would repeat it otherwise), as configured
// remotes' problems are told.
void tellOnce(const std::string& text) {
    static std::mutex toldMutex;
    static std::set<std::string> told;
    if (text.empty()) return;
    std::lock_guard lock(toldMutex);
    if (told.insert(text).second) std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, text.c_str());
}

// The width the search gets: pool threads started, descriptors made room
// for, and the user told when that is fewer than all at once.
std::size_t searchWidth(const std::vector<std::string>& ports, std::size_t groups, std::size_t maxInFlight) {
    const bool connections = std::any_of(ports.begin(), ports.end(), [](const auto& p) { return isPortUrl(p); });
    FanoutNeeds needs{groups, connections, 0, groups, maxInFlight};
    needs.descriptorLimit =
        descriptorLimitFor(std::min(groups, maxInFlight) * descriptorsEach(connections) + kDescriptorHeadroom);
    // Threads only for as many as the rest allows.
    needs.helpers = WorkerPool::shared().startUpTo(fanoutWidth(needs).width - 1);
    const FanoutWidth width = fanoutWidth(needs);
    tellOnce(fanoutNotice(needs, width));
    return width.width;
}

}  // namespace

void forEachPort(const std::vector<std::string>& ports, const std::function<void(std::size_t)>& work,
                 std::size_t maxInFlight) {
    const auto groups = groupByDevice(ports);
    if (groups.size() <= 1) {
        for (std::size_t i = 0; i < ports.size(); ++i) work(i);
        return;
    }
    const std::size_t width = searchWidth(ports, groups.size(), maxInFlight);
    std::exception_ptr failure;
    std::mutex failureMutex;
    WorkerPool::shared().run(groups.size(), width, [&](std::size_t g) {
        try {
            for (std::size_t i : groups[g]) work(i);
        } catch (...) {
            std::lock_guard lock(failureMutex);
            if (!failure) failure = std::current_exception();
        }
    });
    if (failure) std::rethrow_exception(failure);
}

}  // namespace hublink
