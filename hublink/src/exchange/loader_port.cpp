#include "hublink/loader_port.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <vector>

#include "line/line.h"

namespace hublink {

LoaderPort::LoaderPort() = default;
LoaderPort::~LoaderPort() { close(); }

std::string LoaderPort::open(const std::string& path, int speed) {
    close();
    LineResult status;
    line_ = openLine(PortAddress::of(path), {speed, /*restoreOnClose=*/false}, status);
    if (line_) return "OK";
    if (status.fault == LineFault::open) return "Open Port Error!";
    std::fprintf(stderr, "%s\n", status.reason.c_str());
    return "Set Port Option Error!";
}

bool LoaderPort::isOpen() const { return line_ != nullptr; }

bool LoaderPort::send(const std::uint8_t* data, std::size_t len) {
    if (!line_) {
        errno = EBADF;
        return false;
    }
    line_->purge();
    if (line_->write({data, len}).ok()) return true;
    if (errno == 0) errno = EIO;
    return false;
}

int LoaderPort::receive(std::uint8_t* buf, std::size_t len, int millis) {
    if (!line_) return -1;
    const auto deadline = Line::Clock::now() + std::chrono::milliseconds(millis);
    std::vector<std::uint8_t> got;
    while (got.size() < len && Line::Clock::now() < deadline) {
        const LineResult read = line_->read(got, len - got.size(), deadline);
        if (read.fault == LineFault::gone) break;  // the device went away: what came is all
        if (!read.ok()) return -1;
    }
    if (got.size() == len) line_->replyComplete();  // never read past `len`
    std::copy(got.begin(), got.end(), buf);
    return static_cast<int>(got.size());
}

bool LoaderPort::drain(int millis) {
    return line_ && line_->drain(std::chrono::milliseconds(millis)).ok();
}

void LoaderPort::close() { line_.reset(); }

}  // namespace hublink
