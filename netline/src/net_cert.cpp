#include "net_cert.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <openssl/bio.h>
#include <openssl/opensslv.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <memory>

// Only TLS needs libcrypto, and gensio's TLS layer brings it: linked here, it
// cost every rfc2217:// and tcp:// command its loading (about 0.8 ms). Its
// functions are looked up once, when a first certificate is checked.
namespace hublink::net {
namespace {

#define HUB_STRINGIFY(x) #x
#define HUB_SONAME(major) "libcrypto.so." HUB_STRINGIFY(major)

struct Crypto {
    decltype(&BIO_new_mem_buf) newMemBuf = nullptr;
    decltype(&BIO_free) freeBio = nullptr;
    decltype(&PEM_read_bio_X509) readX509 = nullptr;
    decltype(&X509_free) freeX509 = nullptr;
    decltype(&X509_check_host) checkHost = nullptr;
    decltype(&X509_check_ip_asc) checkIp = nullptr;
    bool complete() const { return newMemBuf && freeBio && readX509 && freeX509 && checkHost && checkIp; }
};

template <typename Function>
void lookUp(void* library, const char* name, Function& into) {
    into = reinterpret_cast<Function>(::dlsym(library, name));
}

Crypto load() {
    Crypto crypto;
    // Never closed: the TLS layer holds it open too.
    void* library = ::dlopen(HUB_SONAME(OPENSSL_SHLIB_VERSION), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return crypto;
    lookUp(library, "BIO_new_mem_buf", crypto.newMemBuf);
    lookUp(library, "BIO_free", crypto.freeBio);
    lookUp(library, "PEM_read_bio_X509", crypto.readX509);
    lookUp(library, "X509_free", crypto.freeX509);
    lookUp(library, "X509_check_host", crypto.checkHost);
    lookUp(library, "X509_check_ip_asc", crypto.checkIp);
    return crypto;
}

const Crypto& crypto() {
    static const Crypto loaded = load();
    return loaded;
}

using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

Certificate parsePem(const Crypto& c, const std::string& pem) {
    BIO* bio = c.newMemBuf(pem.data(), static_cast<int>(pem.size()));
    if (bio == nullptr) return {nullptr, c.freeX509};
    Certificate cert(c.readX509(bio, nullptr, nullptr, nullptr), c.freeX509);
    c.freeBio(bio);
    return cert;
}

bool isIpAddress(const std::string& host) {
    unsigned char buffer[16];
    return ::inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

}  // namespace

bool certificateNamesHost(const std::string& pem, const std::string& host) {
    const Crypto& c = crypto();
    if (!c.complete() || host.empty()) return false;
    const Certificate cert = parsePem(c, pem);
    if (!cert) return false;
    if (isIpAddress(host)) return c.checkIp(cert.get(), host.c_str(), 0) == 1;
    return c.checkHost(cert.get(), host.data(), host.size(), X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS,
                       nullptr) == 1;
}

}  // namespace hublink::net
