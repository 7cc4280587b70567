#include "panel/live_states.h"

#include <QFutureWatcher>
#include <QtConcurrent>

#include <hublink/command_claim.h>
#include <hublink/protocol.h>

namespace panel {

LiveRead readLiveStates(CommandLink& link, const std::string& port) {
    LiveRead read{port};
    const hublink::CommandClaim claim(port, std::chrono::milliseconds(0));
    if (!claim.held()) {
        const auto& why = claim.failure();
        const bool held = why && (why->fault == hublink::OpenFault::held ||
                                  why->fault == hublink::OpenFault::busy);
        read.outcome = held ? LiveRead::Outcome::held : LiveRead::Outcome::failed;
        read.reason = why ? hublink::openFailureText(*why) : port + ": the port cannot be opened";
        return read;
    }
    const LinkReply reply = link.exchange(port, hublink::getPortStatesCommand(), hublink::kSearchQueryLimits);
    if (reply.reply.empty()) {
        read.reason = port + ": no answer to get port states (" + reply.result + ")";
        return read;
    }
    read.outcome = LiveRead::Outcome::states;
    read.reply = reply.reply;
    return read;
}

LiveReader::LiveReader(CommandLink& link, std::function<bool()> idle,
                       std::function<std::vector<std::string>()> ports,
                       std::function<void(std::vector<LiveRead>)> done, QObject* parent)
    : QObject(parent), link_(link), idle_(std::move(idle)), ports_(std::move(ports)), done_(std::move(done)) {
    connect(&timer_, &QTimer::timeout, this, &LiveReader::tick);
}

LiveReader::~LiveReader() {
    timer_.stop();
    if (running_) running_->waitForFinished();
}

void LiveReader::setPeriod(std::chrono::milliseconds period) {
    period_ = period;
    if (period_.count() <= 0) {
        timer_.stop();
        return;
    }
    timer_.start(period_);
}

void LiveReader::tick() {
    if (running_ || !idle_()) return;
    const std::vector<std::string> ports = ports_();
    if (ports.empty()) return;
    running_ = new QFutureWatcher<LiveRead>(this);
    connect(running_, &QFutureWatcher<LiveRead>::finished, this, [this] {
        const QList<LiveRead> results = running_->future().results();
        running_->deleteLater();  // this runs inside its own signal
        running_ = nullptr;
        done_(std::vector<LiveRead>(results.begin(), results.end()));
    });
    CommandLink* link = &link_;
    // All hubs at once: one that does not answer costs its bound, not the others'.
    running_->setFuture(QtConcurrent::mapped(
        ports, std::function<LiveRead(const std::string&)>(
                   [link](const std::string& port) { return readLiveStates(*link, port); })));
}

}  // namespace panel
