// A pause during which the windows keep repainting but take no user input.
#pragma once

#include <chrono>
#include <functional>

namespace panel {

// Shows the busy cursor while it lives (the windows block for hub work).
class BusyCursor {
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

// Runs the event loop for `duration`, dropping mouse, key, wheel and touch
// events so nothing can be started while the pause lasts; the busy cursor
// shows meanwhile.
void waitWithoutInput(std::chrono::milliseconds duration);

// Runs `work` on another thread and returns once it has ended; meanwhile the
// window keeps repainting and takes no user input (the busy cursor shows).
// The caller disables what must not be used meanwhile: events other than
// input (timers, accessibility requests) are still delivered.
void runWhileRepainting(const std::function<void()>& work);

}  // namespace panel
