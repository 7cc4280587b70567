// The TCP socket under a gensio stack, for the options gensio 2.6 does not
// set itself. gensio hands out neither the socket nor its descriptor, only
// the connection's addresses as text ("ipv4,127.0.0.1,7000").
#pragma once

#include <string>

namespace hublink::net {

// The descriptor of this process's connected TCP socket whose local and
// peer addresses are `local` and `peer` in gensio's form, or -1.
int socketWithAddresses(const std::string& local, const std::string& peer);

// Asks Linux to acknowledge what arrives at once rather than after up to
// 40 ms. Linux drops the mode again by itself, so it is asked again after
// every read and write. Best effort.
void requestQuickAck(int socket);

}  // namespace hublink::net
