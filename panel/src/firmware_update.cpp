#include "panel/firmware_update.h"

#include <QMetaObject>
#include <QThreadPool>
#include <QtConcurrent>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <filesystem>
#include <firmware/firmware_file.h>
#include <firmware/temp_image.h>

#include "panel/dialogs.h"
#include "panel/protected_flows.h"

namespace panel {

namespace {

const QString kAborted = QStringLiteral("Firmware Update Aborted");

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// A file of this update's own in the private directory, so windows updating
// other hubs at the same time never program or remove each other's image.
std::optional<std::string> newImageFile(std::string& error) {
    const auto dir = firmware::privateTempDir(error);
    if (!dir) return std::nullopt;
    std::string path = *dir + "/bin_temp-XXXXXX.bin";
    const int fd = ::mkostemps(path.data(), 4, O_CLOEXEC);
    if (fd < 0) {
        error = "cannot create an image file in " + *dir + ": " + std::strerror(errno);
        return std::nullopt;
    }
    ::close(fd);
    return path;
}

}  // namespace

FirmwareUpdate::FirmwareUpdate(WindowState& state, UpdateHost& host, FileChooser& files,
                               QWidget* window)
    : s_(state), host_(host), files_(files), window_(window) {
    options_.log = firmware::stdoutLog();
}

FirmwareUpdate::~FirmwareUpdate() {
    cancel_ = true;
    running_.waitForFinished();
    end();
}

void FirmwareUpdate::updateFirmwareClicked() {
    if (busy()) return;
    s_.selectFunction = fn::kUpdateFirmware;
    files_.chooseFile(window_, [this](const QString& path) {
        say("Selected file: " + path.toStdString());
        handleSelectedFile(path);
    });
}

void FirmwareUpdate::handleSelectedFile(const QString& path) {
    if (busy()) return;
    if (!firmware::isFileSizeBelowThreshold(path.toStdString(), firmware::kFirmwareSizeLimit, options_.log)) {
        host_.alert(kAborted, QStringLiteral("Invalid Firmware File!"), AlertIcon::Caution);
        return;
    }
    // Not the file's fault: the private directory is unusable.
    std::string error;
    const auto destination = newImageFile(error);
    if (!destination) {
        say("Error: " + error);
        host_.alert(kAborted, QString::fromStdString(error), AlertIcon::Caution);
        return;
    }
    selectDestination = *destination;
    chosenFile_ = path;
    // The hub this update is for, whatever is selected by the time it runs.
    comport_ = s_.selectComport;
    productId_ = s_.selectPID;
    row_ = s_.selectRow;
    phase_ = Phase::Preparing;
    host_.setUpdating(true);
    host_.setStatus(kProgrammingStatus);
    // Behind the current event, so the status is drawn before the work.
    QMetaObject::invokeMethod(this, [this, path] { matchProduct(path); }, Qt::QueuedConnection);
}

void FirmwareUpdate::matchProduct(const QString& path) {
    const firmware::LogSink log = options_.log;
    if (firmware::decryptFile(path.toStdString(), selectDestination, log) != "OK") {
        refuse(QStringLiteral("Invalid Firmware File!"), false);
        return;
    }
    const auto pid = firmware::findPidInFile(selectDestination, log);
    if (!pid || *pid != productId_) {
        refuse(QStringLiteral("Incorrect Firmware File!"), true);
        return;
    }
    proceed(s_.selectPassword);
}

// Nothing was sent: the file is not for this hub.
void FirmwareUpdate::refuse(const QString& text, bool search) {
    end();
    host_.setUpdating(false);
    host_.alert(kAborted, text, AlertIcon::Caution);
    if (search) host_.AutoSearch();
}

void FirmwareUpdate::proceed(const std::string& password) {
    phase_ = Phase::Programming;
    cancel_ = false;
    signals_.hold();
    firmware::UpdateOptions options = options_;
    options.cancel = &cancel_;
    options.expectedProduct = productId_;
    options.progress = [this](const firmware::UpdateProgress& progress) {
        QMetaObject::invokeMethod(this, [this, progress] { host_.showProgress(progress); },
                                  Qt::QueuedConnection);
    };
    const std::string comport = comport_;
    const std::string image = selectDestination;
    const int row = row_;
    // The worker gets copies only; `this` outlives it (the destructor waits).
    running_ = QtConcurrent::run(QThreadPool::globalInstance(), [=, this] {
        const firmware::UpdateOutcome outcome =
            firmware::proceedUpdate(row, password, image, comport, options);
        QMetaObject::invokeMethod(this, [this, outcome] { handleResult(outcome); },
                                  Qt::QueuedConnection);
    });
}

void FirmwareUpdate::handleResult(const firmware::UpdateOutcome& outcome) {
    const int held = signals_.release();
    host_.setUpdating(false);
    if (!outcome.detail.empty()) say("Firmware update: " + outcome.detail);
    if (held != 0) {
        quitAfter(outcome, held);
        return;
    }
    if (outcome.result == firmware::kPasswordErr) {
        phase_ = Phase::AskingPassword;  // the image is kept for the retry
        host_.performSegue(segue::kPasswordPut);
        return;
    }
    if (outcome.result == firmware::kProductErr) {
        refuse(QStringLiteral("Incorrect Firmware File!"), true);
        return;
    }
    end();
    if (outcome.result == firmware::kStateErr) {
        host_.alert(kSystemMessage, QStringLiteral("State Error"), AlertIcon::Caution,
                    QString::fromStdString(outcome.detail));
    } else if (outcome.ok()) {
        host_.alert(QStringLiteral("Firmware Update Completed"),
                    QStringLiteral("Firmware programmed Successfully!"), AlertIcon::CheckMark);
        host_.AutoSearch();
    } else {
        host_.alert(QStringLiteral("Firmware programmed Error!"), QStringLiteral("I/O Error!"),
                    AlertIcon::Caution, QString::fromStdString(afterFailure(outcome)));
    }
}

// What became of the hub after a failed update, and how to bring it back.
std::string FirmwareUpdate::afterFailure(const firmware::UpdateOutcome& outcome) const {
    if (outcome.sentBack) return "Nothing was erased: the hub went back to its firmware, unchanged.";
    if (!outcome.leftInLoader()) return outcome.detail;
    return "The hub waits in its loader. Bring it back with: hubflash --recover " + comport_ + " " +
           chosenFile_.toStdString();
}

// A SIGINT or SIGTERM came during the update: it has ended, so now the
// window goes, as the signal asked, telling on standard output how it ended.
void FirmwareUpdate::quitAfter(const firmware::UpdateOutcome& outcome, int signal) {
    say("Firmware update ended: " + (outcome.ok() ? std::string("programmed") : outcome.result));
    if (!outcome.ok() && outcome.result != firmware::kPasswordErr) say(afterFailure(outcome));
    end();
    quit(128 + signal);
}

void FirmwareUpdate::onUpdateReturn(const std::string& dataMsg) {
    if (phase_ != Phase::AskingPassword) return;
    phase_ = Phase::Preparing;
    host_.setUpdating(true);
    host_.setStatus(kProgrammingStatus);
    QMetaObject::invokeMethod(this, [this, dataMsg] { proceed(dataMsg); }, Qt::QueuedConnection);
}

void FirmwareUpdate::abandonWaiting() {
    if (phase_ == Phase::AskingPassword) end();
}

// The update is over: its temporary image goes.
void FirmwareUpdate::end() {
    phase_ = Phase::Idle;
    if (selectDestination.empty()) return;
    std::error_code ignored;
    std::filesystem::remove(std::exchange(selectDestination, {}), ignored);
}

}  // namespace panel
