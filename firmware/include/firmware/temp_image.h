// Where the window keeps the unscrambled image between choosing the file and
// programming it.
#pragma once

#include <optional>
#include <string>

namespace firmware {

// A directory only this user can enter: $XDG_RUNTIME_DIR/hubtools when that
// is set, else <TMPDIR or /tmp>/hubtools-<uid>. Created with mode 0700 when
// missing; refused (none, with the reason in `error`) when it is a link, not
// a directory, not the user's own, or open to others. `error` says which of
// these it is, or that the place the variable names is missing or cannot
// hold the directory, in words for the user (never a firmware file's fault).
std::optional<std::string> privateTempDir(std::string& error);

// The temporary image "bin_temp.bin" in privateTempDir().
std::optional<std::string> tempImagePath(std::string& error);

}  // namespace firmware
