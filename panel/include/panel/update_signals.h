// The process's signals while a firmware update has the hub. A window killed
// between two packets leaves the hub in its loader, so for the update's
// length a closed terminal (SIGHUP) and a reader that went away (SIGPIPE)
// are ignored, and SIGINT and SIGTERM are held until the update has ended.
#pragma once

namespace panel {

class UpdateSignals {
public:
    UpdateSignals() = default;
    // Puts the actions back if an update is still holding them.
    ~UpdateSignals();
    UpdateSignals(const UpdateSignals&) = delete;
    UpdateSignals& operator=(const UpdateSignals&) = delete;

    // From here on the signals above are ignored or held.
    void hold();
    // Puts back the actions found by hold() once no window of the process
    // holds them any more; then returns the first SIGINT or SIGTERM that
    // arrived in between, else 0.
    int release();
    bool holding() const { return holding_; }

private:
    bool holding_ = false;
};

}  // namespace panel
