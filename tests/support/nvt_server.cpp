#include "nvt_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {
namespace {

constexpr unsigned char kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                        kSe = 240, kBinary = 0, kComPort = 44;
enum State { data, command, option, sub, subIac };

std::string escaped(const std::string& bytes) {
    std::string out;
    for (char c : bytes) {
        out += c;
        if (static_cast<unsigned char>(c) == kIac) out += c;
    }
    return out;
}

bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 20) > 0;
}

}  // namespace

NvtServer::NvtServer() : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    ::listen(listener_, 4);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

NvtServer::~NvtServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
}

std::string NvtServer::url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }

std::string NvtServer::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

bool NvtServer::binaryAsked() const {
    std::lock_guard lock(mutex_);
    return askedDo_ && askedWill_;
}

void NvtServer::send(const std::string& data) {
    if (const int fd = client_; fd >= 0) writeAll(fd, escaped(data));
}

void NvtServer::writeAll(int fd, const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += std::size_t(n);
    }
}

void NvtServer::serve() {
    while (!stop_) {
        if (!readable(listener_)) continue;
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        serveClient(fd);
        ::close(fd);
    }
}

void NvtServer::serveClient(int fd) {
    state_ = data;
    client_ = fd;
    while (!stop_) {
        if (!readable(fd)) continue;
        unsigned char buf[256];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; ++i) take(fd, buf[i]);
    }
    client_ = -1;
}

// One byte of the client's stream: data is kept, options are refused but
// COM-PORT, and each RFC 2217 request is confirmed with the value asked.
void NvtServer::take(int fd, unsigned char byte) {
    std::lock_guard lock(mutex_);
    switch (state_) {
        case data:
            if (byte == kIac) state_ = command;
            else received_ += char(byte);
            return;
        case command:
            verb_ = byte;
            state_ = byte == kIac ? data : byte == kSb ? sub : byte >= kWill ? option : data;
            if (byte == kIac) received_ += char(byte);
            sub_.clear();
            return;
        case option: {
            state_ = data;
            if (byte == kBinary && verb_ == kDo) askedDo_ = true;
            if (byte == kBinary && verb_ == kWill) askedWill_ = true;
            const bool asksUs = verb_ == kDo;
            if (verb_ != kDo && verb_ != kWill) return;
            const bool agreed = byte == kComPort;
            const unsigned char answer = asksUs ? (agreed ? kWill : kWont) : (agreed ? kDo : kDont);
            writeAll(fd, std::string{char(kIac), char(answer), char(byte)});
            return;
        }
        case sub:
            if (byte == kIac) state_ = subIac;
            else sub_ += char(byte);
            return;
        case subIac:
            if (byte == kIac) {
                sub_ += char(byte);
                state_ = sub;
                return;
            }
            state_ = data;
            if (byte != kSe || sub_.size() < 2 || static_cast<unsigned char>(sub_[0]) != kComPort) return;
            sub_[1] = char(static_cast<unsigned char>(sub_[1]) + 100);
            writeAll(fd, std::string{char(kIac), char(kSb)} + escaped(sub_) + std::string{char(kIac), char(kSe)});
            return;
    }
}

}  // namespace testsupport
