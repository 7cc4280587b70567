#include "ser2net_rig.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "process.h"

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStartBound = std::chrono::seconds(5);
constexpr auto kStopBound = std::chrono::seconds(2);
constexpr auto kPoll = std::chrono::milliseconds(5);

std::string makeDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/ser2net-rig-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed for " + pattern);
    return pattern;
}

// A socket bound to a free loopback port, not listening. With SO_REUSEADDR
// on both sides ser2net can still bind and listen there, and nobody else
// is handed the port meanwhile.
int reservePort(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool bound = fd >= 0 &&
                       ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    if (!bound) throw std::runtime_error("no free loopback port");
    port = ntohs(address.sin_port);
    return fd;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Whether a socket listens on 127.0.0.1:port (from /proc/net/tcp, so that
// finding out does not connect and make ser2net open the device).
bool listensOn(int port) {
    char local[32];
    std::snprintf(local, sizeof local, "0100007F:%04X", port);
    std::istringstream table(readFile("/proc/net/tcp"));
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, address, remote, state;
        fields >> slot >> address >> remote >> state;
        if (address == local && state == "0A") return true;
    }
    return false;
}

std::string accepterText(const Ser2netExport& e, const std::string& directory) {
    const std::string tcp = e.nodelay ? "tcp(nodelay)" : "tcp";
    switch (e.accepter) {
        case Ser2netAccepter::raw: return tcp;
        case Ser2netAccepter::rfc2217: return "telnet(rfc2217)," + tcp;
        case Ser2netAccepter::rfc2217Tls:
            return "telnet(rfc2217),ssl(key=" + directory + "/server.key,cert=" + directory +
                   "/server.crt" + (e.clientAuth ? ",clientauth" : "") + ")," + tcp;
    }
    return {};
}

std::string schemeOf(Ser2netAccepter accepter) {
    switch (accepter) {
        case Ser2netAccepter::raw: return "tcp";
        case Ser2netAccepter::rfc2217: return "rfc2217";
        case Ser2netAccepter::rfc2217Tls: return "rfc2217+tls";
    }
    return {};
}

void runOpenssl(const std::vector<std::string>& arguments, const std::string& directory) {
    std::vector<std::string> argv = {"/usr/bin/openssl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    for (auto& a : argv) a = a.starts_with("@") ? directory + "/" + a.substr(1) : a;
    const ProcessResult result = runProcess(argv, {}, std::chrono::seconds(20));
    if (result.exitStatus != 0)
        throw std::runtime_error("openssl " + arguments.at(0) + " failed: " + result.err);
}

void makeCa(const std::string& name, const std::string& directory) {
    runOpenssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                "-nodes", "-keyout", "@" + name + ".key", "-out", "@" + name + ".crt", "-days", "2",
                "-subj", "/CN=" + name},
               directory);
}

bool exited(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == pid;
}

bool exitsBefore(pid_t pid, Clock::time_point deadline) {
    for (;;) {
        if (exited(pid)) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kPoll);
    }
}

// After fork: only async-signal-safe calls until exec.
[[noreturn]] void becomeChild(char* const* argv, int in, int out, pid_t parent) {
    // A test process that dies (a crash, a SIGPIPE) takes its ser2net along.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &standard, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execv(argv[0], argv);
    ::_exit(127);
}

// The child starts with default signal handling and nothing blocked, its
// output going to `log`; whatever the test process had set does not leak in.
pid_t spawnLogged(std::vector<std::string> args, const std::string& log) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const pid_t parent = ::getpid();
    const pid_t pid = (in >= 0 && out >= 0) ? ::fork() : -1;
    if (pid == 0) becomeChild(argv.data(), in, out, parent);
    const int error = errno;
    if (in >= 0) ::close(in);
    if (out >= 0) ::close(out);
    if (pid < 0) throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(error));
    return pid;
}

}  // namespace

Ser2netRig::Ser2netRig(std::vector<Ser2netExport> exports, Ser2netOptions options)
    : exports_(std::move(exports)), directory_(makeDirectory()) {
    try {
        for (std::size_t i = 0; i < exports_.size(); ++i)
            reservations_.push_back(reservePort(ports_.emplace_back()));
        const auto tls = [](const Ser2netExport& e) {
            return e.accepter == Ser2netAccepter::rfc2217Tls;
        };
        if (std::any_of(exports_.begin(), exports_.end(), tls)) makeCertificates(options);
        start();
    } catch (...) {
        cleanUp();
        throw;
    }
}

Ser2netRig::~Ser2netRig() { cleanUp(); }

void Ser2netRig::cleanUp() {
    stop();
    for (int fd : reservations_) ::close(fd);
    reservations_.clear();
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

std::string Ser2netRig::url(std::size_t index) const {
    return schemeOf(exports_.at(index).accepter) + "://127.0.0.1:" + std::to_string(port(index));
}

std::string Ser2netRig::output() const { return readFile(directory_ + "/ser2net.log"); }

void Ser2netRig::makeCertificates(const Ser2netOptions& options) {
    makeCa("ca", directory_);
    makeCa("other-ca", directory_);
    runOpenssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                "-keyout", "@server.key", "-out", "@server.csr", "-subj", "/CN=hub-server"},
               directory_);
    std::ofstream(directory_ + "/names.cnf") << "subjectAltName=" << options.tlsNames << "\n";
    runOpenssl({"x509", "-req", "-in", "@server.csr", "-CA", "@ca.crt", "-CAkey", "@ca.key",
                "-CAcreateserial", "-out", "@server.crt", "-days", "2", "-extfile", "@names.cnf"},
               directory_);
}

// openssl ca, for certificates dated as the test wants them.
void writeCaConfig(const std::string& directory) {
    std::ofstream(directory + "/index.txt");
    std::ofstream(directory + "/serial") << "01\n";
    std::ofstream(directory + "/ca.cnf")
        << "[ca]\ndefault_ca = rig\n[rig]\ndatabase = " << directory << "/index.txt\n"
        << "new_certs_dir = " << directory << "\nserial = " << directory << "/serial\n"
        << "default_md = sha256\npolicy = any\nunique_subject = no\n"
        << "[any]\ncommonName = supplied\n";
}

std::string Ser2netRig::makeClientCertificate(const std::string& name, const std::string& user,
                                              CertificateDates dates) {
    runOpenssl({"req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                "-keyout", "@" + name + ".key", "-out", "@" + name + ".csr", "-subj", "/CN=" + user},
               directory_);
    if (!std::filesystem::exists(directory_ + "/ca.cnf")) writeCaConfig(directory_);
    const bool expired = dates == CertificateDates::expired;
    runOpenssl({"ca", "-batch", "-config", "@ca.cnf", "-selfsign", "-keyfile", "@" + name + ".key",
                "-in", "@" + name + ".csr", "-out", "@" + name + ".crt", "-notext", "-startdate",
                "20200101000000Z", "-enddate", expired ? "20200102000000Z" : "20991231000000Z"},
               directory_);
    std::filesystem::permissions(directory_ + "/" + name + ".key",
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    return directory_ + "/" + name;
}

void Ser2netRig::allowClient(const std::string& name, const std::string& user) {
    const std::string allowed = directory_ + "/auth/" + user + "/allowed_certs";
    std::filesystem::create_directories(allowed);
    std::filesystem::copy_file(directory_ + "/" + name + ".crt", allowed + "/" + name + ".crt",
                               std::filesystem::copy_options::overwrite_existing);
    runOpenssl({"rehash", allowed}, directory_);
}

void Ser2netRig::writeConfig() const {
    std::ofstream config(directory_ + "/ser2net.yaml");
    config << "%YAML 1.1\n---\n";
    for (std::size_t i = 0; i < exports_.size(); ++i) {
        const Ser2netExport& e = exports_[i];
        config << "connection: &port" << i << "\n"
               << "  accepter: " << accepterText(e, directory_) << ",127.0.0.1,"
               << ports_[i] << "\n"
               << "  connector: serialdev," << e.device << "," << e.baud << "n81,local\n";
        if (e.chardelay && !e.clientAuth) continue;
        config << "  options:\n";
        if (!e.chardelay) config << "    chardelay: false\n";
        if (!e.clientAuth) continue;
        config << "    authdir: " << directory_ << "/auth\n";
    }
}

void Ser2netRig::start() {
    writeConfig();
    // -u: no UUCP lock files, which a killed ser2net would leave behind.
    pid_ = spawnLogged({"/usr/sbin/ser2net", "-n", "-d", "-u", "-P", directory_ + "/ser2net.pid",
                        "-c", directory_ + "/ser2net.yaml"},
                       directory_ + "/ser2net.log");
    awaitListening();
}

void Ser2netRig::awaitListening() {
    const auto deadline = Clock::now() + kStartBound;
    const auto allListen = [this] {
        for (int port : ports_)
            if (!listensOn(port)) return false;
        return true;
    };
    while (!allListen()) {
        if (exited(pid_)) pid_ = -1;
        if (pid_ < 0 || Clock::now() >= deadline)
            throw std::runtime_error("ser2net did not come up:\n" + output());
        std::this_thread::sleep_for(kPoll);
    }
    for (int fd : reservations_) ::close(fd);
    reservations_.clear();
}

void Ser2netRig::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    if (!exitsBefore(pid_, Clock::now() + kStopBound)) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

}  // namespace testsupport
