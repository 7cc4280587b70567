#include "hublink/remotes.h"

#include <errno.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <iterator>
#include <tuple>

#include "hublink/port_url.h"

namespace hublink {

namespace {

constexpr std::string_view kVariable = "HUBLINK_REMOTES";
constexpr std::string_view kBlanks = " \t\r\n\v\f";
constexpr std::string_view kRelativePath = "hubtools/remotes";

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

// Keeps `entry` when it is a URL not met before; records why otherwise.
class Collector {
public:
    void take(std::string_view entry, std::string where) {
        const PortUrlParse parsed = parsePortUrl(entry);
        if (!parsed.url) {
            list_.problems.push_back({std::move(where), std::string(entry), parsed.error});
            return;
        }
        // Compared as written back, so "RFC2217://h:1" and "rfc2217://h:1" are one.
        if (!seen_.insert(portUrlText(*parsed.url)).second) return;
        list_.urls.emplace_back(entry);
    }
    RemoteList done() { return std::move(list_); }

private:
    RemoteList list_;
    std::set<std::string> seen_;
};

std::optional<std::string> variable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

// The whole file, or nullopt with the reason.
std::optional<std::string> fileText(const std::string& file, std::string& reason) {
    std::error_code error;
    if (std::filesystem::is_directory(file, error)) {
        reason = std::strerror(EISDIR);
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        reason = std::strerror(errno);
        return std::nullopt;
    }
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        reason = "read error";
        return std::nullopt;
    }
    return text;
}

}  // namespace

RemoteList parseRemotesVariable(std::string_view value) {
    Collector collector;
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
    Collector collector;
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
        const std::optional<std::string> text = fileText(file, reason);
        if (!text) return {{}, {{file, file, "cannot be read: " + reason}}};
        return parseRemotesFile(*text, file);
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
    static std::set<std::tuple<std::string, std::string, std::string>> told;
    const std::lock_guard lock(mutex);
    for (const RemoteProblem& p : list.problems) {
        if (!told.emplace(p.where, p.entry, p.reason).second) continue;
        std::fprintf(stderr, "%s: %s: skipped '%s': %s\n", program_invocation_short_name,
                     p.where.c_str(), p.entry.c_str(), p.reason.c_str());
    }
    return std::move(list.urls);
}

}  // namespace hublink
