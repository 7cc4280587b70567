// hubflash's work once its command line is read.
#pragma once

#include <atomic>

#include "flash_options.h"

namespace hubflash {

// Outcomes, each with the window's message and an exit status.
enum class Verdict { Programmed, IoError, Usage, InvalidFile, IncorrectFile, PasswordError, StateError };
const char* verdictMessage(Verdict verdict);
int exitStatus(Verdict verdict);

// Runs the update (or --scramble) that `options` asks for. Prints progress and
// reasons on stderr and, as its last line on stdout, the verdict's message;
// returns the exit status. `cancel` (may be null) stops an update between
// packets.
int runHubflash(const FlashOptions& options, const std::atomic<bool>* cancel);

}  // namespace hubflash
