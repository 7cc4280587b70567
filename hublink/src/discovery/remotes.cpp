#include "hublink/remotes.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>

#include "hublink/fd_guard.h"
#include "hublink/port_url.h"

namespace hublink {

namespace {

constexpr std::string_view kVariable = "HUBLINK_REMOTES";
constexpr std::string_view kBlanks = " \t\r\n\v\f";
constexpr std::string_view kRelativePath = "hubtools/remotes";
constexpr std::size_t kFileBound = std::size_t{1} << 20;  // far beyond any lab's list
constexpr std::size_t kProblemsListed = 5;
// How much of an entry a problem shows, and of the rest of its reason (which
// may quote parts of the entry).
constexpr std::size_t kEntryShown = 80;
constexpr std::size_t kReasonShown = 160;
constexpr const char* kCutReason =
    "longer than 1 MiB: only the lines within its first 1048576 bytes are read";

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

// Keeps `entry` when it is a URL not met before; records why otherwise, the
// first kProblemsListed times, and counts the rest.
class Collector {
public:
    explicit Collector(std::string source) : source_(std::move(source)) {}
    void take(std::string_view entry, std::string where) {
        const PortUrlParse parsed = parsePortUrl(entry);
        if (!parsed.url) return skip(entry, std::move(where), parsed.error);
        // Compared as written back, so "RFC2217://h:1" and "rfc2217://h:1" are one.
        if (!seen_.insert(portUrlText(*parsed.url)).second) return;
        list_.urls.emplace_back(entry);
    }
    RemoteList done() {
        if (unlisted_ > 0) list_.problems.push_back({source_, "", unlistedReason()});
        return std::move(list_);
    }

private:
    // A file of garbage would otherwise keep (and tell) every line of it.
    void skip(std::string_view entry, std::string where, const std::string& reason) {
        if (list_.problems.size() == kProblemsListed) {
            ++unlisted_;
            return;
        }
        list_.problems.push_back({std::move(where), std::string(entry), reason});
    }
    std::string unlistedReason() const {
        const std::string count = "skipped " + std::to_string(unlisted_);
        return count + (unlisted_ == 1 ? " more entry that is not a port URL"
                                       : " more entries that are not port URLs");
    }

    std::string source_;
    RemoteList list_;
    std::set<std::string> seen_;
    std::size_t unlisted_ = 0;
};

std::optional<std::string> variable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

// The file opened for reading if it is a regular file, else -1 with the
// reason. Checked on the descriptor, so nothing can be swapped in between;
// O_NONBLOCK keeps the open of a FIFO from waiting for a writer.
int openRegular(const std::string& file, std::string& reason) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        reason = std::strerror(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) return fd;
    reason = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file";
    ::close(fd);
    return -1;
}

// Up to `bound` + 1 bytes of `fd` (one more tells a longer file), or nullopt
// with the reason.
std::optional<std::string> readUpTo(int fd, std::size_t bound, std::string& reason) {
    std::string text;
    char chunk[8192];
    while (text.size() <= bound) {
        const ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, bound + 1 - text.size()));
        if (n == 0) break;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            reason = std::strerror(errno);
            return std::nullopt;
        }
        text.append(chunk, static_cast<std::size_t>(n));
    }
    return text;
}

// The file's text up to kFileBound bytes, or nullopt with the reason. A
// longer file keeps only its whole lines within the bound (no half entry)
// and sets `cut`.
std::optional<std::string> fileText(const std::string& file, std::string& reason, bool& cut) {
    const FdGuard fd(openRegular(file, reason));
    if (fd.get() < 0) return std::nullopt;
    std::optional<std::string> text = readUpTo(fd.get(), kFileBound, reason);
    cut = text && text->size() > kFileBound;
    if (cut) text->resize(text->rfind('\n', kFileBound - 1) + 1);  // npos + 1: nothing
    return text;
}

// `text` safe for a terminal: control characters and bytes of 0x80 and
// above as \xNN; past `limit` characters cut off and marked with "...".
std::string shown(std::string_view text, std::size_t limit) {
    std::string out;
    for (const char c : text.substr(0, limit)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            out += c;
            continue;
        }
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
        out += escaped;
    }
    return text.size() > limit ? out + "..." : out;
}

// The reason of a problem with `entry`: one that quotes the entry whole
// ("'x' is not a URL") shows it cut as well.
std::string shownReason(const std::string& reason, const std::string& entry) {
    const std::string quoted = "'" + entry + "'";
    const std::size_t at = entry.empty() ? std::string::npos : reason.find(quoted);
    if (at == std::string::npos) return shown(reason, kReasonShown);
    return shown(reason.substr(0, at), kReasonShown) + "'" + shown(entry, kEntryShown) + "'" +
           shown(reason.substr(at + quoted.size()), kReasonShown);
}

// What standard error says of `p`, after the program's name. An entry (and
// a reason quoting it) may hold any bytes of the file or the variable: no
// control character reaches the terminal as it is, and a long entry is cut.
std::string problemLine(const RemoteProblem& p) {
    const std::string where = shown(p.where, p.where.size()) + ": ";
    const std::string reason = shownReason(p.reason, p.entry);
    if (p.entry.empty()) return where + reason;
    return where + "skipped '" + shown(p.entry, kEntryShown) + "': " + reason;
}

}  // namespace

RemoteList parseRemotesVariable(std::string_view value) {
    Collector collector{std::string(kVariable)};
    while (!value.empty()) {
        const std::size_t start = value.find_first_not_of(kBlanks);
        if (start == std::string_view::npos) break;
        value.remove_prefix(start);
        const std::size_t end = std::min(value.find_first_of(kBlanks), value.size());
        collector.take(value.substr(0, end), std::string(kVariable));
        value.remove_prefix(end);
    }
    return collector.done();
}

RemoteList parseRemotesFile(std::string_view text, const std::string& file) {
    Collector collector{file};
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        ++number;
        line = trimmed(line.substr(0, line.find('#')));
        if (!line.empty()) collector.take(line, file + ":" + std::to_string(number));
    }
    return collector.done();
}

std::vector<std::string> remotesFileCandidates(const RemoteSettings& settings) {
    std::vector<std::string> files;
    // An empty XDG_CONFIG_HOME counts as unset, as the XDG rules say.
    if (settings.xdgConfigHome && !settings.xdgConfigHome->empty()) {
        files.push_back(*settings.xdgConfigHome + "/" + std::string(kRelativePath));
    } else if (settings.home && !settings.home->empty()) {
        files.push_back(*settings.home + "/.config/" + std::string(kRelativePath));
    }
    files.push_back(settings.systemDirectory + "/" + std::string(kRelativePath));
    return files;
}

RemoteList readRemotes(const RemoteSettings& settings) {
    if (settings.variable) return parseRemotesVariable(*settings.variable);
    for (const std::string& file : remotesFileCandidates(settings)) {
        std::error_code error;
        if (!std::filesystem::exists(file, error)) continue;
        std::string reason;
        bool cut = false;
        const std::optional<std::string> text = fileText(file, reason, cut);
        if (!text) return {{}, {{file, file, "cannot be read: " + reason}}};
        RemoteList list = parseRemotesFile(*text, file);
        if (cut) list.problems.insert(list.problems.begin(), {file, "", kCutReason});
        return list;
    }
    return {};
}

RemoteSettings environmentRemoteSettings() {
    RemoteSettings settings;
    settings.variable = variable(kVariable.data());
    settings.xdgConfigHome = variable("XDG_CONFIG_HOME");
    settings.home = variable("HOME");
    return settings;
}

std::vector<std::string> configuredRemotes() {
    RemoteList list = readRemotes(environmentRemoteSettings());
    // The windows read the list on every search: each problem is told once.
    static std::mutex mutex;
    static std::set<std::string> told;
    const std::lock_guard lock(mutex);
    for (const RemoteProblem& p : list.problems) {
        const std::string line = problemLine(p);
        if (told.insert(line).second)
            std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, line.c_str());
    }
    return std::move(list.urls);
}

}  // namespace hublink
