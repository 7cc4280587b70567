#include "net_resolve.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace hublink::net {
namespace {

constexpr std::size_t kMaxAddresses = 4;

std::optional<NumericAddress> numeric(const std::string& host) {
    unsigned char buffer[16];
    if (::inet_pton(AF_INET, host.c_str(), buffer) == 1) return NumericAddress{false, host};
    if (::inet_pton(AF_INET6, host.c_str(), buffer) == 1) return NumericAddress{true, host};
    return std::nullopt;
}

std::optional<NumericAddress> addressText(const addrinfo& info) {
    char text[INET6_ADDRSTRLEN] = {};
    const bool v6 = info.ai_family == AF_INET6;
    const void* raw =
        v6 ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(info.ai_addr)->sin6_addr)
           : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(info.ai_addr)->sin_addr);
    if (::inet_ntop(info.ai_family, raw, text, sizeof text) == nullptr) return std::nullopt;
    return NumericAddress{v6, text};
}

void addUnique(std::vector<NumericAddress>& list, std::optional<NumericAddress> address) {
    const auto same = [&](const NumericAddress& a) { return address && a.text == address->text; };
    if (address && list.size() < kMaxAddresses && std::none_of(list.begin(), list.end(), same))
        list.push_back(*address);
}

Resolution found(const addrinfo* list) {
    Resolution result{Resolution::Outcome::found, {}, {}};
    for (const addrinfo* at = list; at != nullptr; at = at->ai_next)
        if (at->ai_family == AF_INET || at->ai_family == AF_INET6)
            addUnique(result.addresses, addressText(*at));
    if (result.addresses.empty()) return {Resolution::Outcome::unknownHost, {}, "no IP address"};
    return result;
}

Resolution lookUp(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (rc != 0) {
        const bool unknown = rc == EAI_NONAME || rc == EAI_NODATA || rc == EAI_FAIL;
        using Outcome = Resolution::Outcome;
        return {unknown ? Outcome::unknownHost : Outcome::failed, {}, ::gai_strerror(rc)};
    }
    Resolution result = found(list);
    ::freeaddrinfo(list);
    return result;
}

// Shared with the lookup thread, which may outlive the caller's wait.
struct Pending {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<Resolution> result;
};

// Runs on the lookup thread: nothing may escape it.
void publish(const std::shared_ptr<Pending>& pending, const std::string& host) noexcept {
    try {
        Resolution result = lookUp(host);
        std::lock_guard lock(pending->mutex);
        pending->result = std::move(result);
        pending->done.notify_all();
    } catch (...) {
        // The caller's wait runs out and says so.
    }
}

Resolution waitFor(Pending& pending, std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(pending.mutex);
    if (!pending.done.wait_until(lock, deadline, [&] { return pending.result.has_value(); }))
        return {Resolution::Outcome::timedOut, {}, "no answer from the name resolver in time"};
    return *pending.result;
}

}  // namespace

Resolution resolveHost(const std::string& host, std::chrono::steady_clock::time_point deadline) {
    if (auto address = numeric(host)) return {Resolution::Outcome::found, {*address}, {}};
    auto pending = std::make_shared<Pending>();
    try {
        std::thread([pending, host] { publish(pending, host); }).detach();
    } catch (const std::system_error& e) {
        return {Resolution::Outcome::failed, {}, std::string("cannot start a lookup: ") + e.what()};
    }
    return waitFor(*pending, deadline);
}

}  // namespace hublink::net
