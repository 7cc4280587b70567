// A telnet server on loopback that keeps telnet's NVT rules: it refuses
// BINARY (and every option but COM-PORT), answers RFC 2217 line settings as
// asked, and keeps the data bytes it got. What ser2net is not: a server in
// front of which binary bytes do not cross unchanged.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace testsupport {

class NvtServer {
public:
    NvtServer();   // listens; serves one client at a time until destroyed
    ~NvtServer();  // stops within about 50 ms
    NvtServer(const NvtServer&) = delete;
    NvtServer& operator=(const NvtServer&) = delete;

    std::string url() const;  // "rfc2217://127.0.0.1:PORT"
    // Data bytes received so far, telnet's escapes undone.
    std::string received() const;
    // Whether the client asked for BINARY both ways (DO and WILL).
    bool binaryAsked() const;
    // Sends data to the client connected now (IAC doubled), as it stands:
    // NVT's CR NUL is the caller's to write.
    void send(const std::string& data);

private:
    void serve();
    void serveClient(int fd);
    void take(int fd, unsigned char byte);
    void writeAll(int fd, const std::string& bytes);

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> client_{-1};
    mutable std::mutex mutex_;
    std::string received_;
    bool askedDo_ = false, askedWill_ = false;
    // The telnet command being read: verb, then option or subnegotiation.
    int state_ = 0;
    unsigned char verb_ = 0;
    std::string sub_;
    std::thread thread_;
};

}  // namespace testsupport
