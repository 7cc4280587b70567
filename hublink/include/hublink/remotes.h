// Hubs on other hosts that every search asks, after the local ports: port
// URLs configured in the environment or in a remotes file.
//
// Where the list comes from, first match wins:
//   1. HUBLINK_REMOTES, when set (even empty): URLs separated by blanks. It
//      replaces the files, so an empty value turns remote searches off.
//   2. The first of these files that exists:
//        $XDG_CONFIG_HOME/hubtools/remotes (XDG_CONFIG_HOME set, not empty),
//        else $HOME/.config/hubtools/remotes,
//      then /etc/hubtools/remotes. One URL a line; '#' starts a comment that
//      runs to the end of the line; blank lines are ignored.
//   3. Otherwise none.
// An entry that is not a port URL is left out and reported with the reason
// (the first five of a source; the others are counted). A file is read only
// when it is a regular file, and only up to 1 MiB.
// An entry equal to an earlier one (same scheme, host and port; the scheme's
// letter case aside) is left out silently. The rest keep their order and
// their text as written.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hublink {

// An entry left out: where it was ("HUBLINK_REMOTES" or "FILE:LINE", or the
// file alone when it could not be read), the entry as written and why. An
// empty entry is about the source as a whole: the count of entries left out
// beyond the first five, or a file cut at 1 MiB.
struct RemoteProblem {
    std::string where;
    std::string entry;
    std::string reason;
    bool operator==(const RemoteProblem&) const = default;
};

struct RemoteList {
    std::vector<std::string> urls;
    std::vector<RemoteProblem> problems;
};

// HUBLINK_REMOTES' value: entries separated by spaces, tabs or newlines.
RemoteList parseRemotesVariable(std::string_view value);

// A remotes file's text; `file` names it in problems (with the line number).
RemoteList parseRemotesFile(std::string_view text, const std::string& file);

// What the list is read from; the environment's values (nullopt: unset) and
// the system-wide configuration directory.
struct RemoteSettings {
    std::optional<std::string> variable;       // HUBLINK_REMOTES
    std::optional<std::string> xdgConfigHome;  // XDG_CONFIG_HOME
    std::optional<std::string> home;           // HOME
    std::string systemDirectory = "/etc";
};

// The remotes files in the order they are tried (see the top of this file).
std::vector<std::string> remotesFileCandidates(const RemoteSettings& settings);

// The list as the rules above give it. A file that exists but cannot be read
// (not a regular file: a directory, a FIFO, a device) is the one chosen: it
// gives no URLs and one problem. Never blocks on opening the file. Of a file
// longer than 1 MiB only the lines that end within its first 1 MiB are read,
// and the first problem says so.
RemoteList readRemotes(const RemoteSettings& settings);

// RemoteSettings from this process's environment, read anew on every call.
RemoteSettings environmentRemoteSettings();

// readRemotes(environmentRemoteSettings()); each problem is written to
// standard error as "<program>: <where>: skipped '<entry>': <reason>" (an
// empty entry: "<program>: <where>: <reason>") the first time this process
// meets it. Control characters and bytes of 0x80 and above are written as
// \xNN; only the first 80 characters of an entry (also where the reason
// quotes it whole) and 160 of the rest of a reason are written, "..."
// marking a cut. Safe from any thread.
std::vector<std::string> configuredRemotes();

}  // namespace hublink
