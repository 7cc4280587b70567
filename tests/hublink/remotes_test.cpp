// The configured hubs on other hosts: parsing the variable and the file,
// which source wins, and how the list joins the search candidates.
#include "hublink/remotes.h"

#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <sim/fake_registry.h>

#include <filesystem>
#include <fstream>

#include "hublink/discovery.h"

namespace hublink {
namespace {

using Urls = std::vector<std::string>;
using Problems = std::vector<RemoteProblem>;
namespace fs = std::filesystem;

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

TEST_F(RemotesTree, AFileThatCannotBeReadIsToldAndNotPassedOver) {
    write(root_ + "/etc", "tcp://system:1\n");
    const std::string xdgFile = root_ + "/xdg/hubtools/remotes";
    fs::create_directories(xdgFile);  // a directory where the file should be
    const RemoteList list = readRemotes(settings);
    EXPECT_EQ(list.urls, Urls{});
    ASSERT_EQ(list.problems.size(), 1U);
    EXPECT_EQ(list.problems[0].where, xdgFile);
    EXPECT_EQ(list.problems[0].reason, "cannot be read: Is a directory");
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

}  // namespace
}  // namespace hublink
