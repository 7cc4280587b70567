// Telnet's BINARY option, asked for in both directions: gensio's telnet
// layer agrees to it when a server offers it but never asks, and a server
// that keeps the NVT rules reads the loader's CR NUL as a bare CR.
//
// A layer of its own under gensio's telnet: it sends DO BINARY and WILL
// BINARY before anything else and watches the server's answers go by; all
// bytes pass unchanged. Where BINARY was refused, the line follows NVT's
// rule for CR itself (NvtWriter, NvtReader).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

struct gensio;
struct gensio_os_funcs;

namespace hublink::net {

// What the server agreed to, as its answers went by.
struct BinaryAgreement {
    bool sending = false;    // it said DO BINARY: our bytes reach it as they are
    bool receiving = false;  // it said WILL BINARY: its bytes reach us as they are
    std::size_t heard = 0;   // bytes the server sent (telnet's included)

    bool both() const { return sending && receiving; }
};

// Puts the BINARY layer on `lower` (an unopened tcp or ssl stack) and
// returns it, to be the child of the telnet layer; `agreement` is kept
// current while the layer lives. On failure `lower` is freed and null
// returned.
gensio* withBinaryAsked(gensio_os_funcs* os, gensio* lower,
                        std::shared_ptr<BinaryAgreement> agreement);

// NVT's rule for what we send: a CR not followed by LF becomes CR NUL.
std::vector<std::uint8_t> nvtEncoded(std::span<const std::uint8_t> bytes);

// NVT's rule for what we receive: the NUL after a CR is dropped, also when
// the two come in different reads.
class NvtReader {
public:
    // Drops such NULs from buf[0, len) in place; returns the new length.
    std::size_t decode(std::uint8_t* buf, std::size_t len);
    void reset() { afterCr_ = false; }

private:
    bool afterCr_ = false;
};

}  // namespace hublink::net
