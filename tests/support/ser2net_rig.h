// A real ser2net on loopback in front of given devices (the virtual hub's
// ptys), for tests of the network line. Each export gets a free TCP port on
// 127.0.0.1; TLS exports get a CA and a server certificate made with openssl
// in the rig's own temporary directory.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace testsupport {

enum class Ser2netAccepter {
    rfc2217,     // telnet(rfc2217),tcp
    raw,         // tcp
    rfc2217Tls,  // telnet(rfc2217),ssl(key,cert),tcp
};

struct Ser2netExport {
    std::string device;
    Ser2netAccepter accepter = Ser2netAccepter::rfc2217;
    int baud = 9600;  // the device's line until an RFC 2217 client sets another
    bool nodelay = false;   // tcp(nodelay): no Nagle on ser2net's side
    bool chardelay = true;  // false: ser2net passes bytes on as they come
    // rfc2217Tls: clients must present a certificate listed in the rig's
    // authdir (ssl's clientauth; see allowClient).
    bool clientAuth = false;
};

// How a client certificate of makeClientCertificate is dated.
enum class CertificateDates { valid, expired };

struct Ser2netOptions {
    // subjectAltName entries of the TLS server certificate.
    std::string tlsNames = "DNS:localhost,IP:127.0.0.1,IP:::1";
};

class Ser2netRig {
public:
    // Starts ser2net and returns once every export listens. Throws
    // std::runtime_error, with ser2net's output, when it does not come up
    // within a few seconds.
    explicit Ser2netRig(std::vector<Ser2netExport> exports, Ser2netOptions options = {});
    ~Ser2netRig();  // stops ser2net, removes the directory
    Ser2netRig(const Ser2netRig&) = delete;
    Ser2netRig& operator=(const Ser2netRig&) = delete;

    int port(std::size_t index) const { return ports_.at(index); }
    // "rfc2217://127.0.0.1:PORT", "tcp://…" or "rfc2217+tls://…".
    std::string url(std::size_t index) const;

    // The CA that signed the server certificate, and one that signed nothing
    // here (both exist once any export uses TLS).
    std::string caFile() const { return directory_ + "/ca.crt"; }
    std::string otherCaFile() const { return directory_ + "/other-ca.crt"; }
    const std::string& directory() const { return directory_; }

    // A key (mode 600) and a self-signed certificate with the common name
    // `user`, as <directory>/<name>.key and <name>.crt; returns the path
    // without its suffix.
    std::string makeClientCertificate(const std::string& name, const std::string& user,
                                      CertificateDates dates = CertificateDates::valid);
    // Lists certificate `name` in the authdir as one of `user`'s.
    void allowClient(const std::string& name, const std::string& user);

    // SIGTERM, at most 2 s for it to end, then SIGKILL. Safe to call twice.
    void stop();
    bool running() const { return pid_ > 0; }
    // What ser2net printed so far.
    std::string output() const;

private:
    void makeCertificates(const Ser2netOptions& options);
    void writeConfig() const;
    void start();
    void awaitListening();
    void cleanUp();

    std::vector<Ser2netExport> exports_;
    std::vector<int> ports_;
    // Bound, not listening: each port stays ours until ser2net has it.
    std::vector<int> reservations_;
    std::string directory_;
    pid_t pid_ = -1;
};

}  // namespace testsupport
