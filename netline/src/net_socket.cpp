#include "net_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <charconv>
#include <cstring>
#include <filesystem>
#include <optional>

namespace hublink::net {
namespace {

struct Endpoint {
    int family = AF_UNSPEC;
    unsigned char address[16] = {};
    int port = 0;
    bool operator==(const Endpoint& other) const {
        const std::size_t size = family == AF_INET6 ? 16 : 4;
        return family == other.family && port == other.port &&
               std::memcmp(address, other.address, size) == 0;
    }
};

// "ipv4,127.0.0.1,7000" or "ipv6,::1,7000".
std::optional<Endpoint> parsed(const std::string& text) {
    const auto first = text.find(','), last = text.rfind(',');
    if (first == std::string::npos || last == first) return std::nullopt;
    Endpoint end;
    const std::string kind = text.substr(0, first);
    end.family = kind == "ipv6" ? AF_INET6 : kind == "ipv4" ? AF_INET : AF_UNSPEC;
    const std::string host = text.substr(first + 1, last - first - 1);
    const char* digits = text.c_str() + last + 1;
    const auto [end_, ec] = std::from_chars(digits, text.c_str() + text.size(), end.port);
    if (end.family == AF_UNSPEC || ec != std::errc() ||
        ::inet_pton(end.family, host.c_str(), end.address) != 1)
        return std::nullopt;
    return end;
}

std::optional<Endpoint> endpointOf(const sockaddr_storage& storage) {
    Endpoint end;
    end.family = storage.ss_family;
    if (storage.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(storage);
        std::memcpy(end.address, &in.sin_addr, 4);
        end.port = ntohs(in.sin_port);
    } else if (storage.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(storage);
        std::memcpy(end.address, &in6.sin6_addr, 16);
        end.port = ntohs(in6.sin6_port);
    } else {
        return std::nullopt;
    }
    return end;
}

template <typename Get>
std::optional<Endpoint> addressOf(int fd, Get get) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (get(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0) return std::nullopt;
    return endpointOf(storage);
}

bool isSocket(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

}  // namespace

int socketWithAddresses(const std::string& local, const std::string& peer) {
    const auto wantedLocal = parsed(local), wantedPeer = parsed(peer);
    if (!wantedLocal || !wantedPeer) return -1;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        int fd = -1;
        const std::string name = entry.path().filename().string();
        if (std::from_chars(name.data(), name.data() + name.size(), fd).ec != std::errc() ||
            !isSocket(fd))
            continue;
        if (addressOf(fd, ::getsockname) == wantedLocal && addressOf(fd, ::getpeername) == wantedPeer)
            return fd;
    }
    return -1;
}

void requestQuickAck(int socket) {
    if (socket < 0) return;
    const int on = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

}  // namespace hublink::net
