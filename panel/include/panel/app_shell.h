// The application shell both window programs run: creates the main window,
// shows it, and ends when it is closed. No search runs at start and nothing
// is saved at the end.
#pragma once

#include <QStringList>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace panel {

class AppDelegate {
public:
    explicit AppDelegate(std::unique_ptr<QWidget> window) : window_(std::move(window)) {}
    void applicationDidFinishLaunching() { window_->show(); }
    void applicationWillTerminate() {}

private:
    std::unique_ptr<QWidget> window_;
};

// The period of "--refresh SECONDS" (or "--refresh=SECONDS") among a
// program's arguments, kRefreshPeriod without one; none when the value is
// no number of seconds from 0 (no reading) to a day.
std::optional<std::chrono::milliseconds> refreshOption(const QStringList& args);

// Runs the program named `name` with the window `makeWindow` builds; returns
// the exit status. Reports any exception on stderr (status 1).
int runApplication(int argc, char** argv, const char* name,
                   const std::function<std::unique_ptr<QWidget>()>& makeWindow);

}  // namespace panel
