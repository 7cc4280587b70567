#include "flash_app.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "firmware/firmware_file.h"
#include "firmware/update_flow.h"
#include "hublink/command_claim.h"
#include "hublink/discovery.h"
#include "hublink/exchange.h"
#include "hublink/hub_query.h"
#include "hublink/open_failure.h"
#include "hublink/protocol.h"
#include "progress_printer.h"

namespace hubflash {

namespace {

using firmware::Bytes;

// How long a freshly programmed hub may take to answer again.
constexpr auto kRestartWait = std::chrono::seconds(5);
constexpr auto kRestartPoll = std::chrono::milliseconds(100);

void note(const std::string& text) { std::fprintf(stderr, "hubflash: %s\n", text.c_str()); }

// A port that could not be opened is named with the reason, once.
void tellUnopened(const std::vector<hublink::OpenFailure>& failures) {
    for (const hublink::OpenFailure& failure : failures) note(hublink::openFailureText(failure));
}

// The exit status tells the outcome even when standard output is gone (a
// pipe closed early); standard error says that the line was lost.
int finish(Verdict verdict) {
    std::clearerr(stdout);  // an earlier trace line's failure is not this line's
    errno = 0;
    std::printf("%s\n", verdictMessage(verdict));
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        note(std::string("cannot write the result \"") + verdictMessage(verdict) +
             "\" to standard output: " + std::strerror(errno != 0 ? errno : EIO));
    return exitStatus(verdict);
}

// `text` as one word for a shell.
std::string shellWord(const std::string& text) {
    constexpr std::string_view kPlain =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-+=.,/:@%";
    if (!text.empty() && text.find_first_not_of(kPlain) == std::string::npos) return text;
    std::string word = "'";
    for (char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

// The command that programs a hub waiting in its loader.
std::string recoverCommand(const FlashOptions& o, const std::string& path) {
    std::string command = "hubflash --recover";
    if (o.raw) command += " --raw";
    if (o.key != firmware::defaultKey()) command += " --key KEY";
    return command + " " + shellWord(path) + " " + shellWord(o.file);
}

// A hub in its loader answers no identify query or UID lookup.
bool namesUid(const std::string& port) {
    std::string head = port.substr(0, 3);
    for (char& c : head) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return head == "UID";
}

// A path is taken as given; hubctl's resolver would upper-case one outside /dev.
hublink::PortLookup resolvePort(const std::string& port) {
    if (port.find('/') != std::string::npos) return {true, port};
    hublink::PortLookup lookup = hublink::Get_COM_Port(port);
    tellUnopened(lookup.unopened);
    return lookup;
}

// The image inside FILE, with its product ID; a verdict when there is none.
struct LoadedImage {
    std::optional<Verdict> refused;
    Bytes image;
    std::string productId;
};

LoadedImage loadImage(const FlashOptions& o) {
    firmware::UpdateImage loaded = firmware::loadUpdateImage(o.file, o.raw, o.key);
    if (!loaded.ok()) {
        note(loaded.error);
        return {loaded.unreadable ? Verdict::InvalidFile : Verdict::IncorrectFile, {}, {}};
    }
    return {std::nullopt, std::move(loaded.image), std::move(loaded.productId)};
}

// Identifies the hub and compares its product ID with the image's.
std::optional<Verdict> checkHub(const std::string& path, const std::string& productId) {
    const hublink::QueryResult query = hublink::queryHub(path);
    if (query.status != "OK") {
        if (query.openFailure) tellUnopened({*query.openFailure});
        note("no hub answers on " + path + " (" + query.status +
             "); a hub that a failed update left in its loader answers only --recover");
        return Verdict::StateError;
    }
    const std::string hubPid = query.record.at("PID");
    if (hubPid != productId) {
        note("the file is for product " + productId + ", the hub on " + path + " is " + hubPid);
        return Verdict::IncorrectFile;
    }
    return std::nullopt;
}

// After a run packet the hub restarts its application: its firmware version
// once it answers, none when it did not within kRestartWait.
std::optional<std::string> awaitApplication(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + kRestartWait;
    do {
        const hublink::Exchange answer = hublink::sendCommand(path, hublink::identifyCommand());
        if (answer.ok() && answer.reply.rfind("TAVRIN", 0) == 0)
            return std::string(hublink::firmwareField(answer.reply));
        std::this_thread::sleep_for(kRestartPoll);
    } while (std::chrono::steady_clock::now() < deadline);
    return std::nullopt;
}

void reportRestart(const std::string& path) {
    if (const auto version = awaitApplication(path))
        std::printf("Hub firmware version: %s\n", version->c_str());
    else
        note("the hub did not answer within 5 s after the update");
}

// Where a failed update left the hub, and how to bring it out of its loader.
void explainStop(const firmware::UpdateOutcome& outcome, const FlashOptions& o,
                 const std::string& path) {
    const std::string recover = recoverCommand(o, path) + " programs it";
    if (outcome.erased) return note("the hub waits in its loader: " + recover);
    if (outcome.sentBack && awaitApplication(path))
        return note("nothing was erased: the hub is unchanged and runs its firmware again");
    note("nothing was erased; if the hub waits in its loader, " + recover);
}

Verdict verdictOf(const firmware::UpdateOutcome& outcome) {
    if (outcome.result == firmware::kUpdateOk) return Verdict::Programmed;
    if (outcome.result == firmware::kPasswordErr) return Verdict::PasswordError;
    if (outcome.result == firmware::kStateErr) return Verdict::StateError;
    return Verdict::IoError;
}

// The device path of the hub to program; a verdict when there is none.
struct Target {
    std::optional<Verdict> refused;
    std::string path;
};

// Resolves the port and claims it for the whole update, so that no other
// program reaches the hub between its check and its update.
Target findTarget(const FlashOptions& o, const std::string& productId,
                  std::optional<hublink::CommandClaim>& claim) {
    if (o.recover && namesUid(o.port)) {
        note("--recover wants the port's device path or name: a hub in its loader answers no "
             "UID lookup");
        return {Verdict::StateError, {}};
    }
    const hublink::PortLookup port = resolvePort(o.port);
    if (!port.valid) {
        note("no hub with " + o.port + " answers");
        return {Verdict::StateError, {}};
    }
    // Refused before the hub is asked anything, not only before "EUFW".
    auto refused = firmware::refusedPort(port.path);
    if (!refused) {
        // A port that cannot be had is told by the check that follows.
        claim.emplace(port.path);
        if (claim->held()) refused = firmware::refusedLine(*claim, port.path);
    }
    if (refused) {
        note(refused->detail);
        return {Verdict::StateError, {}};
    }
    if (o.recover) return {std::nullopt, port.path};
    return {checkHub(port.path, productId), port.path};
}

firmware::UpdateOutcome program(const FlashOptions& o, const std::string& path, Bytes image,
                                const std::atomic<bool>* cancel) {
    ProgressPrinter printer(stderr, isatty(STDERR_FILENO) == 1);
    firmware::UpdateOptions options;
    if (o.verbose) options.log = firmware::stdoutLog();
    if (!o.quiet) options.progress = std::ref(printer);
    options.cancel = cancel;
    options.hubInLoader = o.recover;
    const auto outcome =
        firmware::runUpdate(path, o.password, firmware::makeImage(std::move(image)), options);
    printer.finish();
    return outcome;
}

int update(const FlashOptions& o, const std::atomic<bool>* cancel) {
    LoadedImage loaded = loadImage(o);
    if (loaded.refused) return finish(*loaded.refused);
    std::optional<hublink::CommandClaim> claim;
    const Target target = findTarget(o, loaded.productId, claim);
    if (target.refused) return finish(*target.refused);
    const auto outcome = program(o, target.path, std::move(loaded.image), cancel);
    claim.reset();  // the restarting hub is others' again
    const Verdict verdict = verdictOf(outcome);
    if (!outcome.detail.empty()) note(outcome.detail);
    if (verdict == Verdict::IoError) explainStop(outcome, o, target.path);
    if (verdict == Verdict::Programmed) reportRestart(target.path);
    return finish(verdict);
}

int scrambleFile(const FlashOptions& o) {
    std::string error;
    const auto image = firmware::readFirmwareBytes(o.scrambleIn, error);
    if (!image) {
        note(o.scrambleIn + ": " + error);
        return finish(Verdict::InvalidFile);
    }
    if (!firmware::productIdOf(*image))
        note("warning: " + o.scrambleIn + " carries no product-ID marker; no update will accept it");
    const Bytes file = firmware::scramble(*image, o.key);
    std::FILE* out = std::fopen(o.scrambleOut.c_str(), "wb");
    const bool written = out && std::fwrite(file.data(), 1, file.size(), out) == file.size();
    if (out && std::fclose(out) != 0) return note(o.scrambleOut + ": write failed"), 1;
    if (!written) return note("cannot write " + o.scrambleOut), 1;
    std::printf("Wrote %s (%zu bytes)\n", o.scrambleOut.c_str(), file.size());
    return 0;
}

}  // namespace

const char* verdictMessage(Verdict verdict) {
    switch (verdict) {
        case Verdict::Programmed: return "Firmware programmed Successfully!";
        case Verdict::IoError: return "I/O Error!";
        case Verdict::Usage: return flashUsage();
        case Verdict::InvalidFile: return "Invalid Firmware File!";
        case Verdict::IncorrectFile: return "Incorrect Firmware File!";
        case Verdict::PasswordError: return "Password Error!";
        case Verdict::StateError: return "State Error";
    }
    return "";
}

int exitStatus(Verdict verdict) {
    switch (verdict) {
        case Verdict::Programmed: return 0;
        case Verdict::IoError: return 1;
        case Verdict::Usage: return 2;
        case Verdict::InvalidFile:
        case Verdict::IncorrectFile: return 3;
        case Verdict::PasswordError: return 4;
        case Verdict::StateError: return 5;
    }
    return 1;
}

int runHubflash(const FlashOptions& options, const std::atomic<bool>* cancel) {
    if (options.scrambling()) return scrambleFile(options);
    return update(options, cancel);
}

}  // namespace hubflash
