// Host name to numeric addresses within a deadline. getaddrinfo has no
// timeout of its own, and a resolver that does not answer must not hold an
// open beyond its bound.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace hublink::net {

struct NumericAddress {
    bool v6 = false;
    std::string text;  // "127.0.0.1", "::1"
};

struct Resolution {
    enum class Outcome { found, unknownHost, timedOut, failed };
    Outcome outcome = Outcome::failed;
    std::vector<NumericAddress> addresses;  // stream addresses, no repeats, resolver order
    std::string reason;                     // when not found
};

// A numeric host is returned as it is, without asking a resolver. A name is
// looked up on a thread of its own; when the deadline passes first, that
// thread is left to finish alone and the outcome is timedOut.
Resolution resolveHost(const std::string& host, std::chrono::steady_clock::time_point deadline);

}  // namespace hublink::net
