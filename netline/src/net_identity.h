// The certificate and key a TLS client presents, named by HUBLINK_CERT and
// HUBLINK_KEY (PEM files): both or neither, and a key that only its owner
// can read, as ssh wants of its keys.
#pragma once

#include <string>

namespace hublink::net {

struct ClientIdentity {
    std::string cert;   // empty: none is presented
    std::string key;
    std::string error;  // why the variables cannot be used; empty when they can
};

// Reads the variables and checks the files (nothing is sent anywhere).
ClientIdentity clientIdentity();

}  // namespace hublink::net
