#include "process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace testsupport {
namespace {

struct Pipe {
    int fd[2] = {-1, -1};
    Pipe() {
        if (pipe2(fd, O_CLOEXEC) != 0) fd[0] = fd[1] = -1;
    }
    ~Pipe() {
        for (int f : fd)
            if (f >= 0) close(f);
    }
    void closeEnd(int i) {
        if (fd[i] >= 0) close(fd[i]);
        fd[i] = -1;
    }
};

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        std::string name = entry.substr(0, entry.find('='));
        bool overridden = false;
        for (const auto& x : extra)
            if (x.substr(0, x.find('=')) == name) overridden = true;
        if (!overridden) env.push_back(entry);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& items) {
    std::vector<char*> out;
    for (auto& s : items) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// Drains both pipes until they close or the deadline passes; stdout's pipe
// is closed early once `outLimit` bytes came.
bool drain(Pipe& out, Pipe& err, ProcessResult& result, std::size_t outLimit,
           std::chrono::steady_clock::time_point deadline) {
    while (out.fd[0] >= 0 || err.fd[0] >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd fds[2] = {{out.fd[0], POLLIN, 0}, {err.fd[0], POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) return false;
        Pipe* pipes[2] = {&out, &err};
        std::string* sinks[2] = {&result.out, &result.err};
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) sinks[i]->append(buf, static_cast<size_t>(n));
            else if (n == 0 || errno != EINTR) pipes[i]->closeEnd(0);
        }
        if (result.out.size() >= outLimit) {
            result.out.resize(outLimit);
            out.closeEnd(0);
        }
    }
    return true;
}

bool isClosed(const ProcessOptions& options, int fd) {
    return std::find(options.closed.begin(), options.closed.end(), fd) != options.closed.end();
}

// The pipes become stdout and stderr unless the child is to start without them.
void setUpDescriptors(posix_spawn_file_actions_t& actions, const Pipe& out, const Pipe& err,
                      const ProcessOptions& options) {
    posix_spawn_file_actions_init(&actions);
    if (!isClosed(options, 1)) posix_spawn_file_actions_adddup2(&actions, out.fd[1], 1);
    if (!isClosed(options, 2)) posix_spawn_file_actions_adddup2(&actions, err.fd[1], 2);
    for (int fd : options.closed) posix_spawn_file_actions_addclose(&actions, fd);
}

// The test runner may ignore or block signals; the child must not inherit that.
void setUpSignals(posix_spawnattr_t& attributes) {
    posix_spawnattr_init(&attributes);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
}

pid_t spawn(const std::vector<std::string>& argv, const ProcessOptions& options, Pipe& out,
            Pipe& err) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    setUpDescriptors(actions, out, err, options);
    setUpSignals(attributes);
    std::vector<std::string> args(argv), envs = mergedEnvironment(options.env);
    auto argp = pointers(args), envp = pointers(envs);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0].c_str(), &actions, &attributes, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    out.closeEnd(1);
    err.closeEnd(1);
    return rc == 0 ? pid : -1;
}

void collect(pid_t pid, ProcessResult& result) {
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    ProcessResult result;
    Pipe out, err;
    if (out.fd[0] < 0 || err.fd[0] < 0 || argv.empty()) return result;
    const pid_t pid = spawn(argv, options, out, err);
    if (pid < 0) return result;
    std::thread beside;
    if (options.alongside) beside = std::thread(options.alongside, pid);
    const auto deadline = std::chrono::steady_clock::now() + options.timeout;
    if (!drain(out, err, result, options.outLimit, deadline)) {
        result.timedOut = true;
        kill(pid, SIGKILL);
    }
    collect(pid, result);
    if (beside.joinable()) beside.join();
    return result;
}

ProcessResult runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         std::chrono::milliseconds timeout) {
    ProcessOptions options;
    options.env = env;
    options.timeout = timeout;
    return runProcess(argv, options);
}

}  // namespace testsupport
