// gensio's TLS layer checks a server certificate's chain but not whom it
// names; without this check any certificate a trusted CA signed would do.
#pragma once

#include <string>

namespace hublink::net {

// Whether the PEM certificate names `host`: its subject alternative names
// (DNS names, wildcards only as a whole left-most label; IP addresses for a
// numeric host), or its common name when it has no DNS names. False for text
// that holds no certificate.
bool certificateNamesHost(const std::string& pem, const std::string& host);

}  // namespace hublink::net
