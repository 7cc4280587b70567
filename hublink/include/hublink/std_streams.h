// Standard descriptors for a program started without some of them.
#pragma once

namespace hublink {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that
// the first descriptor the program opens (a hub's port) cannot take the
// place of standard output or error and receive the program's messages.
// Call it first in main, before anything is opened. Open descriptors are left
// as they are. False when one stayed closed (/dev/null could not be opened):
// the program must then open no device.
bool ensureStdStreams() noexcept;

}  // namespace hublink
