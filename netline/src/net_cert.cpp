#include "net_cert.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace hublink::net {
namespace {

struct X509Free {
    void operator()(X509* cert) const { X509_free(cert); }
};
using Certificate = std::unique_ptr<X509, X509Free>;

Certificate parsePem(const std::string& pem) {
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    if (bio == nullptr) return nullptr;
    Certificate cert(PEM_read_bio_X509(bio, nullptr, nullptr, nullptr));
    BIO_free(bio);
    return cert;
}

bool isIpAddress(const std::string& host) {
    unsigned char buffer[16];
    return ::inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

}  // namespace

bool certificateNamesHost(const std::string& pem, const std::string& host) {
    const Certificate cert = parsePem(pem);
    if (!cert || host.empty()) return false;
    if (isIpAddress(host)) return X509_check_ip_asc(cert.get(), host.c_str(), 0) == 1;
    return X509_check_host(cert.get(), host.data(), host.size(),
                           X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS, nullptr) == 1;
}

}  // namespace hublink::net
