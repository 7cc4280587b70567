#include "hublink/port_fanout.h"

#include <sys/resource.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>

#include "search/worker_pool.h"

namespace hublink {

namespace {

// The device a path names: links (a registry's dev/ entries) resolved.
std::string deviceOf(const std::string& path) {
    std::error_code ec;
    const auto canonical = std::filesystem::canonical(path, ec);
    return ec ? path : canonical.string();
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

// Room for a descriptor per port asked at once, beside what the program
// holds: the soft limit goes up towards the hard one (best effort; a port
// that cannot be opened then is reported as such by its query).
void makeRoomForDescriptors(std::size_t ports) {
    constexpr rlim_t kHeadroom = 64;
    struct rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    const rlim_t wanted = static_cast<rlim_t>(ports) + kHeadroom;
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= wanted) return;
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
    setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace

void forEachPort(const std::vector<std::string>& ports, const std::function<void(std::size_t)>& work,
                 std::size_t maxInFlight) {
    const auto groups = groupByDevice(ports);
    if (groups.size() <= 1) {
        for (std::size_t i = 0; i < ports.size(); ++i) work(i);
        return;
    }
    makeRoomForDescriptors(std::min(groups.size(), maxInFlight));
    std::exception_ptr failure;
    std::mutex failureMutex;
    WorkerPool::shared().run(groups.size(), maxInFlight, [&](std::size_t g) {
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
