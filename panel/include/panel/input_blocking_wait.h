// A pause during which the windows keep repainting but take no user input.
#pragma once

#include <chrono>

namespace panel {

// Runs the event loop for `duration`, dropping mouse, key, wheel and touch
// events so nothing can be started while the pause lasts.
void waitWithoutInput(std::chrono::milliseconds duration);

}  // namespace panel
