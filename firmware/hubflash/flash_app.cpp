#include "flash_app.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

#include "firmware/firmware_file.h"
#include "firmware/update_flow.h"
#include "hublink/discovery.h"
#include "hublink/exchange.h"
#include "hublink/hub_query.h"
#include "hublink/protocol.h"
#include "progress_printer.h"

namespace hubflash {

namespace {

using firmware::Bytes;

// How long a freshly programmed hub may take to answer again.
constexpr auto kRestartWait = std::chrono::seconds(5);
constexpr auto kRestartPoll = std::chrono::milliseconds(100);

void note(const std::string& text) { std::fprintf(stderr, "hubflash: %s\n", text.c_str()); }

int finish(Verdict verdict) {
    std::printf("%s\n", verdictMessage(verdict));
    std::fflush(stdout);
    return exitStatus(verdict);
}

// The image inside FILE, with its product ID; a verdict when there is none.
struct LoadedImage {
    std::optional<Verdict> refused;
    Bytes image;
    std::string productId;
};

LoadedImage loadImage(const FlashOptions& o) {
    std::string error;
    auto bytes = firmware::readFirmwareBytes(o.file, error);
    if (!bytes) {
        note(o.file + ": " + error);
        return {Verdict::InvalidFile, {}, {}};
    }
    Bytes image = o.raw ? std::move(*bytes) : firmware::unscramble(*bytes, o.key);
    auto pid = firmware::productIdOf(image);
    if (!pid) {
        note(o.file + ": no product-ID marker in the image" +
             (o.raw ? std::string() : " (is it scrambled with this key?)"));
        return {Verdict::IncorrectFile, {}, {}};
    }
    return {std::nullopt, std::move(image), *pid};
}

// Identifies the hub and compares its product ID with the image's.
std::optional<Verdict> checkHub(const std::string& path, const std::string& productId) {
    const hublink::QueryResult query = hublink::queryHub(path);
    if (query.status != "OK") {
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

// After the run packet the hub restarts its application; report its version.
void reportRestart(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + kRestartWait;
    do {
        const hublink::Exchange answer = hublink::sendCommand(path, hublink::identifyCommand());
        if (answer.ok() && answer.reply.rfind("TAVRIN", 0) == 0) {
            std::printf("Hub firmware version: %s\n",
                        std::string(hublink::firmwareField(answer.reply)).c_str());
            return;
        }
        std::this_thread::sleep_for(kRestartPoll);
    } while (std::chrono::steady_clock::now() < deadline);
    note("the hub did not answer within 5 s after the update");
}

Verdict verdictOf(const firmware::UpdateOutcome& outcome) {
    if (outcome.result == firmware::kUpdateOk) return Verdict::Programmed;
    if (outcome.result == firmware::kPasswordErr) return Verdict::PasswordError;
    if (outcome.result == firmware::kStateErr) return Verdict::StateError;
    return Verdict::IoError;
}

int update(const FlashOptions& o, const std::atomic<bool>* cancel) {
    LoadedImage loaded = loadImage(o);
    if (loaded.refused) return finish(*loaded.refused);
    const hublink::PortLookup port = hublink::Get_COM_Port(o.port);
    if (!port.valid) {
        note("no hub with " + o.port + " answers");
        return finish(Verdict::StateError);
    }
    if (!o.recover) {
        if (auto refused = checkHub(port.path, loaded.productId)) return finish(*refused);
    }
    ProgressPrinter printer(stderr, isatty(STDERR_FILENO) == 1);
    firmware::UpdateOptions options;
    if (o.verbose) options.log = firmware::stdoutLog();
    if (!o.quiet) options.progress = std::ref(printer);
    options.cancel = cancel;
    options.hubInLoader = o.recover;
    const auto outcome = firmware::runUpdate(port.path, o.password,
                                             firmware::makeImage(std::move(loaded.image)), options);
    printer.finish();
    const Verdict verdict = verdictOf(outcome);
    if (!outcome.detail.empty()) note(outcome.detail);
    if (verdict == Verdict::IoError)
        note("if the hub no longer answers, it waits in its loader: "
             "run hubflash --recover PORT FILE to program it again");
    if (verdict == Verdict::Programmed) reportRestart(port.path);
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
