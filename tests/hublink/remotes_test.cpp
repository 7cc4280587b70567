// The configured hubs on other hosts: parsing the variable and the file,
// which source wins, and how the list joins the search candidates.
#include "hublink/remotes.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <sim/fake_registry.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>

#include "hublink/discovery.h"

namespace hublink {
namespace {

using Urls = std::vector<std::string>;
using Problems = std::vector<RemoteProblem>;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

RemoteProblem notUrl(const std::string& where, const std::string& entry) {
    return {where, entry, "'" + entry + "' is not a URL (SCHEME://HOST:PORT)"};
}

}  // namespace

void PrintTo(const RemoteProblem& p, std::ostream* os) {
    *os << "{" << p.where << ", '" << p.entry << "', " << p.reason << "}";
}

namespace {

TEST(Remotes, VariableEntries) {
    struct Case {
        std::string value;
        Urls urls;
        Problems problems;
    };
    const std::string v = "HUBLINK_REMOTES";
    const std::vector<Case> cases = {
        {"", {}, {}},
        {" \t\n ", {}, {}},
        {"  tcp://b:2\trfc2217://a:1\n", {"tcp://b:2", "rfc2217://a:1"}, {}},
        // Asked once, as first written; another scheme is another export.
        {"rfc2217://a:1 RFC2217://a:1 tcp://a:1 rfc2217://a:1", {"rfc2217://a:1", "tcp://a:1"}, {}},
        {"rfc2217://[::1]:7000 rfc2217+tls://h.example:7001", {"rfc2217://[::1]:7000", "rfc2217+tls://h.example:7001"}, {}},
        {"rfc2217://a:70000 tcp://c:3 tcp://d", {"tcp://c:3"},
         {{v, "rfc2217://a:70000", "port 70000 is out of 1..65535"}, {v, "tcp://d", "missing port"}}},
        // Five are listed, the others counted.
        {"a b c d tcp://c:3 e f", {"tcp://c:3"},
         {notUrl(v, "a"), notUrl(v, "b"), notUrl(v, "c"), notUrl(v, "d"), notUrl(v, "e"),
          {v, "", "skipped 1 more entry that is not a port URL"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const RemoteList list = parseRemotesVariable(c.value);
        EXPECT_EQ(list.urls, c.urls);
        EXPECT_EQ(list.problems, c.problems);
    }
}

TEST(Remotes, FileLines) {
    struct Case {
        std::string text;
        Urls urls;
        Problems problems;
    };
    const std::vector<Case> cases = {
        {"", {}, {}},
        {"# office hubs\n\n  rfc2217://a:1  # bench\r\n\ttcp://b:2\n", {"rfc2217://a:1", "tcp://b:2"}, {}},
        {"tcp://b:2", {"tcp://b:2"}, {}},  // no newline at the end
        {"tcp://b:2\ntcp://B:2\ntcp://b:2\n", {"tcp://b:2", "tcp://B:2"}, {}},
        // One URL a line: two on a line are one bad entry, named by its line.
        {"\n#\nrfc2217://a:1 tcp://b:2\ntcp://c:3\n", {"tcp://c:3"},
         {{"F:3", "rfc2217://a:1 tcp://b:2", "an IPv6 address must be in brackets, as in [::1]:7000"}}},
        {"rfc2217://a:0\n", {}, {{"F:1", "rfc2217://a:0", "port 0 is out of 1..65535"}}},
        {"1\n2\n3\n4\n5\n6\n7\ntcp://c:3\n", {"tcp://c:3"},
         {notUrl("F:1", "1"), notUrl("F:2", "2"), notUrl("F:3", "3"), notUrl("F:4", "4"), notUrl("F:5", "5"),
          {"F", "", "skipped 2 more entries that are not port URLs"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const RemoteList list = parseRemotesFile(c.text, "F");
        EXPECT_EQ(list.urls, c.urls);
        EXPECT_EQ(list.problems, c.problems);
    }
}

// A temporary tree with a configuration directory for each place a remotes
// file may be.
class RemotesTree : public ::testing::Test {
protected:
    void SetUp() override {
        std::string base = (fs::temp_directory_path() / "hublink-remotes.XXXXXX").string();
        ASSERT_NE(::mkdtemp(base.data()), nullptr);
        root_ = base;
        settings.xdgConfigHome = root_ + "/xdg";
        settings.home = root_ + "/home";
        settings.systemDirectory = root_ + "/etc";
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    // Writes DIR/hubtools/remotes with one URL; returns the file's path.
    std::string write(const std::string& dir, const std::string& text) {
        fs::create_directories(dir + "/hubtools");
        const std::string file = dir + "/hubtools/remotes";
        std::ofstream(file) << text;
        return file;
    }
    Urls urls() const { return readRemotes(settings).urls; }
    // readRemotes, on a thread of its own: should it block on opening the
    // FIFO `fifo`, a writer that comes and goes lets it go on.
    RemoteList readUnblocked(const std::string& fifo) const {
        auto result = std::async(std::launch::async, [this] { return readRemotes(settings); });
        if (result.wait_for(2s) == std::future_status::timeout) {
            ADD_FAILURE() << "blocked on opening " << fifo;
            const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) ::close(fd);
        }
        return result.get();
    }

    std::string root_;
    RemoteSettings settings;
};

TEST_F(RemotesTree, TheVariableReplacesTheFilesThenTheFirstFileThatExistsIsUsed) {
    EXPECT_EQ(urls(), Urls{});  // nothing configured
    write(root_ + "/etc", "tcp://system:1\n");
    EXPECT_EQ(urls(), Urls{"tcp://system:1"});
    write(root_ + "/home/.config", "tcp://home:1\n");
    // XDG_CONFIG_HOME is set: the home directory's file is not looked at.
    EXPECT_EQ(urls(), Urls{"tcp://system:1"});
    settings.xdgConfigHome = "";  // empty counts as unset
    EXPECT_EQ(urls(), Urls{"tcp://home:1"});
    settings.xdgConfigHome.reset();
    EXPECT_EQ(urls(), Urls{"tcp://home:1"});
    settings.xdgConfigHome = root_ + "/xdg";
    write(root_ + "/xdg", "# nothing here\n");
    EXPECT_EQ(urls(), Urls{});  // the first file that exists, even when it lists none
    write(root_ + "/xdg", "tcp://xdg:1\ntcp://xdg:2\n");
    EXPECT_EQ(urls(), (Urls{"tcp://xdg:1", "tcp://xdg:2"}));
    settings.variable = "tcp://env:1";
    EXPECT_EQ(urls(), Urls{"tcp://env:1"});
    settings.variable = "";
    EXPECT_EQ(urls(), Urls{});
}

// Nothing but a regular file is read: a FIFO would block the search for
// ever, a device might never end.
TEST_F(RemotesTree, AFileThatCannotBeReadIsToldAndNotPassedOver) {
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
        std::string reason;
    };
    const Case cases[] = {
        {"a directory", [](const std::string& f) { fs::create_directories(f); }, "Is a directory"},
        {"a FIFO", [](const std::string& f) { ASSERT_EQ(::mkfifo(f.c_str(), 0600), 0); },
         "not a regular file"},
        {"a link to a device", [](const std::string& f) { fs::create_symlink("/dev/null", f); },
         "not a regular file"},
    };
    write(root_ + "/etc", "tcp://system:1\n");
    const std::string xdgFile = root_ + "/xdg/hubtools/remotes";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::create_directories(root_ + "/xdg/hubtools");
        c.make(xdgFile);
        const RemoteList list = readUnblocked(xdgFile);
        EXPECT_EQ(list.urls, Urls{});
        EXPECT_EQ(list.problems, (Problems{{xdgFile, xdgFile, "cannot be read: " + c.reason}}));
        fs::remove_all(xdgFile);
    }
}

TEST_F(RemotesTree, OnlyWholeLinesWithinTheFirstMebibyteAreRead) {
    constexpr std::size_t kMiB = 1 << 20;
    const std::string first = "tcp://a:1\n";
    // Exactly 1 MiB, so read whole: its last line counts.
    std::string text = first + "#" + std::string(kMiB - first.size() - 12, 'x') + "\ntcp://b:2\n";
    ASSERT_EQ(text.size(), kMiB);
    const std::string file = write(root_ + "/xdg", text);
    EXPECT_EQ(readRemotes(settings).urls, (Urls{"tcp://a:1", "tcp://b:2"}));
    EXPECT_EQ(readRemotes(settings).problems, Problems{});

    // One more byte: the last line ends past the bound. "tcp://c:34" has its
    // first 9 bytes ("tcp://c:3", a URL too) inside it and is not taken.
    text = first + "#" + std::string(kMiB - first.size() - 11, 'x') + "\ntcp://c:34\ntcp://b:2\n";
    ASSERT_EQ(text.find("tcp://c:34") + 9, kMiB);
    write(root_ + "/xdg", text);
    const RemoteList list = readRemotes(settings);
    EXPECT_EQ(list.urls, Urls{"tcp://a:1"});
    const std::string cut = "longer than 1 MiB: only the lines within its first 1048576 bytes are read";
    EXPECT_EQ(list.problems, (Problems{{file, "", cut}}));
}

// Sets an environment variable for one test, putting the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST_F(RemotesTree, SearchCandidatesAreTheLocalPortsThenTheRemotesEachProblemToldOnce) {
    const std::string file = write(root_ + "/xdg", "tcp://b:2\nnot-a-url\nrfc2217://a:1\n");
    const ScopedEnv xdg("XDG_CONFIG_HOME", settings.xdgConfigHome->c_str());
    const ScopedEnv none("HUBLINK_REMOTES", nullptr);
    sim::FakeRegistry registry(root_ + "/registry");
    const std::string local = registry.add("ttyUSB0", "/dev/null");
    const SysfsRegistry sysfs(registry.sysRoot(), registry.devDir());

    ::testing::internal::CaptureStderr();
    const Urls first = getSerialPortList(Frontend::Console, sysfs);
    const Urls second = getSerialPortList(Frontend::Desk, sysfs);
    const std::string told = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(first, (Urls{local, "tcp://b:2", "rfc2217://a:1"}));
    EXPECT_EQ(second, first);
    EXPECT_EQ(getLocalSerialPortList(Frontend::Console, sysfs), Urls{local});
    const std::string line = ": " + file + ":2: skipped 'not-a-url': ";
    ASSERT_NE(told.find(line), std::string::npos) << told;
    EXPECT_EQ(told.find(line, told.find(line) + 1), std::string::npos) << told;  // once
}

// Entries come from a file or a variable that may hold anything: what
// standard error shows of them is escaped, cut and at most five lines.
TEST_F(RemotesTree, ProblemsAreToldEscapedCutAndAtMostFiveOfThem) {
    const std::string z100(100, 'z');
    // "\x1b" "c": ESC c (a terminal reset), the c no hex digit of the escape.
    const std::string value = "\x1b]0;owned\x07 caf\xc3\xa9 " + z100 + " tcp://h:1\x1b" "c 5th 6th 7th";
    const ScopedEnv remotes("HUBLINK_REMOTES", value.c_str());
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(configuredRemotes(), Urls{});
    const std::string told = ::testing::internal::GetCapturedStderr();

    const std::string p = std::string(program_invocation_short_name) + ": HUBLINK_REMOTES: ";
    const std::string notUrl = " is not a URL (SCHEME://HOST:PORT)\n";
    const std::string z80 = std::string(80, 'z') + "...'";
    EXPECT_EQ(told, p + "skipped '\\x1B]0;owned\\x07': '\\x1B]0;owned\\x07'" + notUrl +
                        p + "skipped 'caf\\xC3\\xA9': 'caf\\xC3\\xA9'" + notUrl +
                        p + "skipped '" + z80 + ": '" + z80 + notUrl +
                        p + "skipped 'tcp://h:1\\x1Bc': unexpected '\\x1Bc' after the port\n" +
                        p + "skipped '5th': '5th'" + notUrl +
                        p + "skipped 2 more entries that are not port URLs\n");
}

}  // namespace
}  // namespace hublink
