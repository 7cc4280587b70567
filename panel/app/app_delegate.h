// The application shell: creates the main window and shows it. No search runs
// at start and nothing is saved at the end.
#pragma once

#include <memory>

namespace panel {
class ViewController;
}

class AppDelegate {
public:
    AppDelegate();
    ~AppDelegate();

    void applicationDidFinishLaunching();
    void applicationWillTerminate() {}

private:
    std::unique_ptr<panel::ViewController> window_;
};
