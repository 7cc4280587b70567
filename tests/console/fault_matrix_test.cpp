// Every hubctl command, on the command line and as JSON, against a virtual
// hub whose reply to one exchange goes wrong (silent, late, split, cut short,
// garbled, high bytes, device gone mid-reply) or whose password differs, and
// against ports that cannot be used at all. Each row checks the printed text,
// the exit status, the time taken and every line the hub received: nothing
// that changes the hub may follow a broken query. Rows run in parallel, each
// with its own hub and its own hubctl process.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "hub_harness.h"

namespace {

using hubtest::after;
using hubtest::kQueryV04;
using hubtest::Lines;
using hubtest::operator+;

using Seconds = std::chrono::duration<double>;

struct Result {
    std::string out;
    int status = 0;
};

Result line(const std::string& text, int status) { return {text + "\n", status}; }
Result res(const std::string& text) { return {R"({"RES":")" + text + "\"}\n", 0}; }

const sim::HubConfig kHub{.description = "Bench", .states = 0x4};
const std::string kNoDevice = "/dev/fault-matrix-no-such-hub";

// The hub's reply to `sent`, only its length matters: split and truncated
// replies are cut from it.
std::size_t replyLength(const std::string& sent) {
    if (sent == "?Q\r") return 16;                                  // TAVRIN0AB304V04 LF
    if (sent == "E?Q2\r") return 15 + 12 + kHub.description.size() + 2;  // ... CR LF
    if (sent == "GP\r") return 9;                                   // F4FFFFFF LF
    if (sent.starts_with("SP") || sent.starts_with("FP")) return 10;  // G + states8 + LF
    return 2;                                                       // G LF
}

// One command and what it prints for every way an exchange can end.
struct Command {
    std::string label;
    Lines args;                // "@hub": the hub's path; "@listed": its registry path
    Lines sent;                // every line of an undisturbed run
    Result done;               // that run's output
    std::size_t queries = 0;   // leading lines of `sent` that only read the hub
    // A reading exchange failed; gets the hub query's failure text for it.
    std::function<Result(const std::string&)> readFailed = {};
    // The last, changing exchange: no reply line, a refused reply, the reply
    // cut short (half of it and no LF: a bare "G" still accepts, half an echo
    // of the states does not), the password rejected.
    Result noReply = {}, refused = {}, cutShort = {}, wrongPassword = {};
    std::optional<Result> unusablePort = {};  // default: as the first exchange failing
    bool listed = false;                      // found by a search of the registry
    // Another output form of a command in the table: its query is the same,
    // so each trouble hits only the last reading exchange.
    bool form = false;

    bool changes() const { return sent.size() > queries; }
};

// What the hub query reports when its exchange `at` fails.
std::string queryFailure(std::size_t at) {
    static const char* const kTexts[] = {"Query Error!", "Query2 Error!", "No"};
    return kTexts[std::min<std::size_t>(at, 2)];
}

auto always(Result r) {
    return [r](const std::string&) { return r; };
}

Command searched(Command c) {
    c.listed = true;
    return c;
}

Command asForm(Command c) {
    c.form = true;
    return c;
}

std::string hubInfo(const std::string& path) {
    return path + ", 4 ports, On=3, Off=1,2,4, FW=V04, UID=0123456789AB, Description=Bench";
}

nlohmann::json record(const std::string& path) {
    return {{"Port_Name", path}, {"PID", "0AB3"},          {"nPorts", "04"},
            {"FW_Ver", "V04"},   {"UID", "0123456789AB"}, {"Description", "Bench"},
            {"Port_States", "F4,FF,FF,FF"}};
}

Result pretty(const nlohmann::json& reply) { return {reply.dump(2) + "\n", 0}; }

std::vector<Command> consoleCommands() {
    const Result ok{"", 0};
    const Result no = line("No", 1);
    const Result badPassword = line("Password Error!", 1);
    const Result setFailed = line("Set Port State: Failed!", 1);
    const auto printed = [](const std::string& text) { return line(text, 1); };
    const Lines set = kQueryV04 + Lines{"SPkiwi    F5FFFFFF\r"};
    const Lines setSave = kQueryV04 + Lines{"FPkiwi    F5FFFFFF\r"};
    return {
        {"/Q:port", {"/Q:@hub"}, kQueryV04, line(hubInfo("@hub"), 0), 3,
         always(line("Error Query Hub!", 0))},
        asForm({"/Q:port -F", {"/Q:@hub", "-F"}, kQueryV04,
                line("FFFFFFF4,4,V04,0123456789AB,Bench", 0), 3,
                always(line("Error Query Hub!", 0))}),
        // A hub whose query fails is left out of the search.
        searched({"/Q", {"/Q"}, kQueryV04,
                  {hubInfo("@listed") + "\n1 Managed USB Hub(s) Found.\n", 0}, 3,
                  always(line("0 Managed USB Hub(s) Found.", 0))}),
        asForm(searched({"/Q -F", {"/Q", "-f"}, kQueryV04, line("0001,@listed", 0), 3,
                         always(line("0000", 0))})),
        {"/S", {"/S:@hub", "1:1"}, set, ok, 3, printed, no, setFailed, setFailed, badPassword},
        {"/F", {"/F:@hub", "1:1"}, setSave, ok, 3, printed, no, setFailed, setFailed, badPassword},
        {"/P", {"/P:@hub", "newpw"}, {"CPkiwi    newpw   \r"}, ok, 0, {}, no,
         line("Change Password Failed!", 1), ok, badPassword},
        {"/G", {"/G:@hub"}, kQueryV04, line("On=3 Off=1,2,4", 0), 3,
         always(line("Error Get Port States!", 1))},
        asForm({"/G -B", {"/G:@hub", "-b"}, kQueryV04, line("0100", 0), 3,
                always(line("Error Get Port States!", 1))}),
        // The hex form alone reports a failed query with status 0.
        asForm({"/G -H", {"/G:@hub", "-H"}, kQueryV04, line("F4FFFFFF", 0), 3,
                always(line("Error Get Port States!", 0))}),
        {"/W", {"/W:@hub"}, {"WPkiwi    \r"}, ok, 0, {}, no, line("Error Saving Port State", 1),
         ok, badPassword},
        {"/D", {"/D:@hub"}, {"RDkiwi    \r"}, ok, 0, {}, no,
         line("Error Restoring Factory Default", 1), ok, badPassword},
        // A restarting hub may say nothing; only a port never written to fails.
        {"/R", {"/R:@hub"}, {"RHkiwi    \r"}, ok, 0, {}, ok, ok, ok, badPassword, no},
        {"/T", {"/T:@hub"}, kQueryV04, line("Bench", 0), 3,
         always(line("Error Reading Description!", 0))},
        {"/X", {"/X:@hub", "Desk 2"}, {"ESDDkiwi    Desk 2\r"}, ok, 0, {}, no,
         line("Error Writing Description String", 1), ok, badPassword},
        {"/U", {"/U:@hub"}, kQueryV04, line("0123456789AB", 0), 3,
         always(line("Error Reading UID!", 0))},
    };
}

// The JSON forms always end with status 0; "RES" carries the outcome.
Command json(std::string name, const std::string& members, Lines sent, Result done,
             std::size_t queries, std::function<Result(const std::string&)> readFailed,
             const std::string& refused = {}) {
    Command c{"J " + name, {"/J", R"({"CMD":")" + name + "\",\"COM\":\"@hub\"" + members + "}"},
              std::move(sent), std::move(done), queries, std::move(readFailed)};
    c.noReply = res("No");
    c.refused = res(refused);
    c.cutShort = name.starts_with("SPS") ? c.refused : res("OK");  // see Command
    c.wrongPassword = res("Password Error!");
    return c;
}

std::vector<Command> jsonCommands() {
    const Lines set = kQueryV04 + Lines{"SPkiwi    F5FFFFFF\r"};
    const Lines setSave = kQueryV04 + Lines{"FPkiwi    F5FFFFFF\r"};
    const Result found = pretty({{"RES", "OK"}, {"HUBS", "1"}, {"INFO", {record("@listed")}}});
    const Result none = pretty({{"RES", "OK"}, {"HUBS", "0"}, {"INFO", nlohmann::json::array()}});
    Command all = searched(json("Q", "", kQueryV04, found, 3, always(none)));
    all.args = {"/J", R"({"CMD":"Q"})"};
    Command reset = json("RSHB", "", {"RHkiwi    \r"}, res("OK"), 0, {}, "OK");
    reset.noReply = res("OK");
    reset.unusablePort = res("No");
    return {
        all,
        json("QH", "", kQueryV04, pretty({{"RES", "OK"}, {"INFO", record("@hub")}}), 3,
             always(res("Query Hub Error!"))),
        json("SPST", R"(,"STATES":"F5,FF,FF,FF")", set, res("OK"), 3,
             always(res("Set Port State Error!")), "Set Port State: Failed!"),
        json("SPSF", R"(,"STATES":"F5FFFFFF")", setSave, res("OK"), 3,
             always(res("Set Port State Error!")), "Set Port State: Failed!"),
        json("CPSW", R"(,"NPW":"newpw")", {"CPkiwi    newpw   \r"}, res("OK"), 0, {},
             "Change Password Failed!"),
        json("GPST", "", kQueryV04, {R"({"RES":"OK","STATES":"F4,FF,FF,FF"})" "\n", 0}, 3,
             always(res("Get Port State Error!"))),
        json("SVPS", "", {"WPkiwi    \r"}, res("OK"), 0, {}, "Error Saving Port States!"),
        json("RSDF", "", {"RDkiwi    \r"}, res("OK"), 0, {}, "Error Restoring Default!"),
        reset,
        json("RDES", "", kQueryV04, {R"({"RES":"OK","DESC":"Bench"})" "\n", 0}, 3,
             always(res("Read Description Error!"))),
        json("WDES", R"(,"DESC":"Desk 2")", {"ESDDkiwi    Desk 2\r"}, res("OK"), 0, {},
             "Error Writing Description String!"),
        // The UID read is the extended identify alone.
        json("RUID", "", {"E?Q2\r"}, {R"({"RES":"OK","UID":"0123456789AB"})" "\n", 0}, 1,
             always(res("Read UID Error!"))),
    };
}

enum class Trouble {
    Silent,         // no reply to one exchange
    Late,           // its reply comes after the console's 1.0 s
    CutShort,       // half its reply, no LF
    Garbled,        // "#?garbled"
    HighBytes,      // 0x80 0xFF before the LF
    Vanish,         // the device disappears after reading the command
    Split,          // every reply in pieces, each reply within its limit
    NoLineEnd,      // every reply whole but for its LF: taken when the wait ends
    WrongPassword,  // the hub holds another password
    Gone,           // the port does not exist
    NotTerminal,    // the port is /dev/null, no serial line
};

const char* troubleName(Trouble t) {
    static const char* const kNames[] = {
        "silent", "late",        "cut short",      "garbled", "high bytes",    "vanish",
        "split",  "no line end", "wrong password", "gone",    "not a terminal"};
    return kNames[int(t)];
}

constexpr Trouble kPerExchange[] = {Trouble::Silent,  Trouble::Late,      Trouble::CutShort,
                                    Trouble::Garbled, Trouble::HighBytes, Trouble::Vanish};
constexpr Trouble kPerCommand[] = {Trouble::Split, Trouble::NoLineEnd, Trouble::WrongPassword,
                                   Trouble::Gone, Trouble::NotTerminal};

constexpr int kLateMillis = 1400;
constexpr int kSplitGapMillis = 300;  // three pieces: 0.6 s of the 1.0 s
constexpr double kReplyWait = 1.0;  // what a missing or unfinished line costs

struct Row {
    const Command* command;
    Trouble trouble;
    std::size_t at = 0;  // the exchange hit, for the per-exchange troubles
    std::string label;
    std::vector<sim::Fault> faults = {};
    sim::HubConfig hub = kHub;
    Result want = {};
    Lines received = {};
    double cost = 0;  // seconds of waiting the trouble forces
};

sim::Fault splitFault(const std::string& sent) {
    const int count = int((replyLength(sent) + 2) / 3);
    return {sim::Fault::Kind::Split, kSplitGapMillis, count, {}};
}

double splitCost(const Lines& sent) {
    double cost = 0;
    for (const std::string& s : sent) {
        const std::size_t count = (replyLength(s) + 2) / 3;
        cost += double((replyLength(s) + count - 1) / count - 1) * kSplitGapMillis / 1000;
    }
    return cost;
}

sim::Fault exchangeFault(Trouble t, const std::string& sent) {
    using K = sim::Fault::Kind;
    switch (t) {
        case Trouble::Silent: return hubtest::silent();
        case Trouble::Late: return {K::Delay, kLateMillis, 0, {}};
        case Trouble::CutShort: return {K::Truncate, 0, int(replyLength(sent) / 2), {}};
        case Trouble::Garbled: return {K::Garble, 0, 0, {}};
        case Trouble::HighBytes: return {K::HighBytes, 0, 0, {}};
        default: return {K::Vanish, 0, 0, {}};
    }
}

std::string exchangeName(const std::string& sent) {
    if (sent.starts_with("ESDD") || sent.starts_with("E?Q2")) return sent.substr(0, 4);
    return sent.substr(0, 2);
}

Row exchangeRow(const Command& c, Trouble t, std::size_t at) {
    Row row{&c, t, at, c.label + ", " + troubleName(t) + " at " + exchangeName(c.sent[at])};
    row.faults = after(int(at), exchangeFault(t, c.sent[at]));
    row.received.assign(c.sent.begin(), c.sent.begin() + std::ptrdiff_t(at) + 1);
    if (at < c.queries) {
        row.want = c.readFailed(queryFailure(at));
    } else if (t == Trouble::Garbled) {
        row.want = c.refused;
    } else if (t == Trouble::CutShort) {
        row.want = c.cutShort;
    } else {
        row.want = c.noReply;
    }
    const bool waits = t == Trouble::Silent || t == Trouble::Late || t == Trouble::CutShort;
    row.cost = waits ? kReplyWait : 0;
    return row;
}

Row commandRow(const Command& c, Trouble t) {
    Row row{&c, t, 0, c.label + ", " + troubleName(t)};
    switch (t) {
        case Trouble::Split:
            for (const std::string& s : c.sent) row.faults.push_back(splitFault(s));
            row.want = c.done;
            row.received = c.sent;
            row.cost = splitCost(c.sent);
            break;
        case Trouble::NoLineEnd:
            for (const std::string& s : c.sent)
                row.faults.push_back({sim::Fault::Kind::Truncate, 0, int(replyLength(s) - 1), {}});
            row.want = c.done;
            row.received = c.sent;
            row.cost = kReplyWait * double(c.sent.size());
            break;
        case Trouble::WrongPassword:
            // Reading the hub needs no password.
            row.hub.password = "secret  ";
            row.want = c.changes() ? c.wrongPassword : c.done;
            row.received = c.sent;
            break;
        default:
            row.want = c.unusablePort ? *c.unusablePort
                       : c.queries > 0 ? c.readFailed(queryFailure(0))
                                       : c.noReply;
            break;
    }
    return row;
}

std::vector<Row> matrix(const std::vector<Command>& commands) {
    std::vector<Row> rows;
    for (const Command& c : commands) {
        for (std::size_t at = c.form ? c.queries - 1 : 0; at < c.sent.size(); ++at)
            for (Trouble t : kPerExchange) rows.push_back(exchangeRow(c, t, at));
        for (Trouble t : kPerCommand) rows.push_back(commandRow(c, t));
    }
    return rows;
}

std::string replaced(std::string text, const std::string& mark, const std::string& path) {
    for (auto at = text.find(mark); at != std::string::npos; at = text.find(mark, at + path.size()))
        text.replace(at, mark.size(), path);
    return text;
}

struct Seen {
    Result result;
    Lines received;
    double seconds = 0;
    std::string hubPath, listedPath;
};

Seen runRow(const Row& row) {
    hubtest::Registry registry;
    sim::HubConfig config = row.hub;
    config.record = true;
    sim::VirtualHub hub(config);
    for (const sim::Fault& f : row.faults) hub.pushFault(f);
    std::string port = hub.path();
    // Not a vanished hub's path: its pty number may go to another row's hub.
    if (row.trouble == Trouble::Gone) port = kNoDevice;
    if (row.trouble == Trouble::NotTerminal) port = "/dev/null";
    Seen seen;
    seen.hubPath = port;
    if (row.command->listed) seen.listedPath = registry.add("ttyUSB0", port);
    Lines args;
    for (const std::string& arg : row.command->args)
        args.push_back(replaced(replaced(arg, "@hub", port), "@listed", seen.listedPath));
    const auto start = std::chrono::steady_clock::now();
    const hubtest::Run run = hubtest::hubctl(args, registry);
    seen.seconds = Seconds(std::chrono::steady_clock::now() - start).count();
    seen.result = {run.out, run.status};
    seen.received = hub.received();
    return seen;
}

// Runs the rows on `workers` threads, longest waits first.
std::vector<Seen> runAll(const std::vector<Row>& rows, int workers) {
    std::vector<std::size_t> order(rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return rows[a].cost > rows[b].cost; });
    std::vector<Seen> seen(rows.size());
    std::atomic<std::size_t> next{0};
    std::vector<std::future<void>> pool;
    for (int w = 0; w < workers; ++w) {
        pool.push_back(std::async(std::launch::async, [&] {
            for (std::size_t i = next++; i < order.size(); i = next++)
                seen[order[i]] = runRow(rows[order[i]]);
        }));
    }
    for (auto& f : pool) f.get();
    return seen;
}

std::string joined(const Lines& lines) {
    std::string text;
    for (const std::string& l : lines) text += "[" + l.substr(0, l.size() - 1) + "]";
    return text;
}

// Pretty JSON is compared as values: its white space is the writer's.
bool sameOutput(const std::string& want, const std::string& got) {
    if (!want.starts_with("{\n")) return want == got;
    return got.starts_with("{\n") &&
           nlohmann::json::parse(want) == nlohmann::json::parse(got, nullptr, false);
}

// A sanitized hubctl needs about 0.1 s of CPU to start: fewer rows at once
// and more room each. The late rows pin the wait itself in either build.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kWorkers = 16;
constexpr double kSlack = 8.0;
#else
constexpr int kWorkers = 32;
constexpr double kSlack = 1.5;
#endif

void checkMatrix(const std::vector<Command>& commands) {
    const std::vector<Row> rows = matrix(commands);
    const auto start = std::chrono::steady_clock::now();
    const std::vector<Seen> seen = runAll(rows, kWorkers);
    const double total = Seconds(std::chrono::steady_clock::now() - start).count();

    double overshoot = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const Seen& got = seen[i];
        overshoot = std::max(overshoot, got.seconds - row.cost);
        SCOPED_TRACE(row.label);
        const std::string wantOut =
            replaced(replaced(row.want.out, "@hub", got.hubPath), "@listed", got.listedPath);
        EXPECT_TRUE(sameOutput(wantOut, got.result.out))
            << "want: " << wantOut << "got:  " << got.result.out;
        EXPECT_EQ(got.result.status, row.want.status);
        EXPECT_EQ(joined(got.received), joined(row.received));
        // A silent exchange costs the console's whole wait, and no more.
        EXPECT_GE(got.seconds, row.cost * 0.9);
        EXPECT_LE(got.seconds, row.cost + kSlack);
    }
    std::printf("%zu rows in %.1f s, at most %.2f s beyond the waits\n", rows.size(), total,
                overshoot);
}

TEST(FaultMatrix, ConsoleCommands) { checkMatrix(consoleCommands()); }

TEST(FaultMatrix, JsonCommands) { checkMatrix(jsonCommands()); }

// A first argument of 6 characters or fewer names no port.
TEST(FaultMatrix, EmptyPortOperand) {
    const std::string invalid = "Invalid Serial Port!\n";
    hubtest::runHubCases({
        {{"/Q:cu1"}, invalid, 1},
        {{"/S:cu1", "1:1"}, invalid, 1},
        {{"/F", "1:1"}, invalid, 1},
        {{"/P:cu1", "newpw"}, invalid, 1},
        {{"/G:cu1"}, invalid, 1},
        {{"/G", "-H"}, invalid, 1},
        {{"/W:cu1"}, invalid, 1},
        {{"/D:x"}, invalid, 1},
        {{"/R:cu1"}, invalid, 1},
        {{"/T:cu1"}, invalid, 1},
        {{"/X:cu1", "Desk 2"}, invalid, 1},
        {{"/U"}, invalid, 1},
    });
}

}  // namespace
