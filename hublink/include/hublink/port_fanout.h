// Asking many control ports at once. A search waits for every port that is
// no hub; asked one after another each costs a whole timeout, asked together
// they cost one.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace hublink {

// Ports asked at the same time at most. A device farm's host carries
// hundreds of serial devices and a lab names a thousand endpoints: asked all
// at once a search costs one timeout whatever their number, where 256 at a
// time cost one timeout per 256 silent ports.
inline constexpr std::size_t kMaxPortsInFlight = 1024;

// Runs `work(i)` for every index of `ports`, on the calling thread and up to
// `maxInFlight - 1` threads kept for the program's whole life, and returns
// when all have run. Indices whose ports name the same device (the same
// path, or links to one device) run one after another on one thread, in
// index order, so no device is opened twice at once. An exception thrown by
// `work` is rethrown here once every thread has ended.
//
// The soft limit on open descriptors is raised to fit every port at once
// (one descriptor a device, three a network connection), as far as the hard
// limit allows; network connections also stay below descriptor number 1024,
// which the network library cannot go past (about 320 at once). When these,
// `maxInFlight` or the threads that could be started allow fewer at once,
// the rest wait their turn: that is no failure, and standard error gets one
// line, once per process, saying how many are asked at a time and why
// ("<program>: asking N of M ports at a time (...)").
void forEachPort(const std::vector<std::string>& ports, const std::function<void(std::size_t)>& work,
                 std::size_t maxInFlight = kMaxPortsInFlight);

// `ask` applied to every port, the results in port order.
template <class Result, class Ask>
std::vector<Result> askEachPort(const std::vector<std::string>& ports, Ask ask) {
    std::vector<Result> results(ports.size());
    forEachPort(ports, [&](std::size_t i) { results[i] = ask(ports[i]); });
    return results;
}

}  // namespace hublink
