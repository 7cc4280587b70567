// Reading the listed hubs' port states in the background, so that the
// window shows changes other programs made. One get-port-states exchange per
// hub and round, under the hub's claim and never waiting for it: a hub that
// another program holds is left for the next round.
#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "panel/hub_operations.h"

namespace panel {

// How often the windows read the hubs unless told otherwise (--refresh).
inline constexpr std::chrono::milliseconds kRefreshPeriod{2000};
// Reads failed in a row before a hub is shown as not answering.
inline constexpr int kFailuresShown = 3;

struct LiveRead {
    enum class Outcome {
        states,  // `reply` holds the hub's answer
        held,    // another program had the hub: nothing was sent
        failed,  // no usable answer; `reason` says why
    };
    std::string port;
    Outcome outcome = Outcome::failed;
    std::string reply;
    std::string reason;
};

// One read, on the calling thread: claim without waiting, then one exchange
// through `link`.
LiveRead readLiveStates(CommandLink& link, const std::string& port);

// Runs rounds every period while `idle()` says the window may: each round
// reads the ports `ports()` names on a worker thread and hands the reads to
// `done` on the window's thread. A round starts only when the last has ended.
class LiveReader : public QObject {
    Q_OBJECT
public:
    LiveReader(CommandLink& link, std::function<bool()> idle,
               std::function<std::vector<std::string>()> ports,
               std::function<void(std::vector<LiveRead>)> done, QObject* parent = nullptr);
    ~LiveReader() override;  // waits for a round under way (each read is bounded)

    // Zero stops the reading.
    void setPeriod(std::chrono::milliseconds period);
    std::chrono::milliseconds period() const { return period_; }
    // Whether a round is under way now.
    bool reading() const { return running_ != nullptr; }

private:
    void tick();

    CommandLink& link_;
    std::function<bool()> idle_;
    std::function<std::vector<std::string>()> ports_;
    std::function<void(std::vector<LiveRead>)> done_;
    std::chrono::milliseconds period_{0};
    QTimer timer_;
    QFutureWatcher<LiveRead>* running_ = nullptr;  // the round under way
};

}  // namespace panel
