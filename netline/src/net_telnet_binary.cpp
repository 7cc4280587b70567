#include "net_telnet_binary.h"

#include <algorithm>
#include <array>
#include <new>
#include <utility>

#include <gensio/gensio.h>
#include <gensio/gensio_err.h>
// gensio's headers for new layers are C only: no extern "C", and a
// parameter named "typename".
#define typename type_name
extern "C" {
#include <gensio/gensio_base.h>
#include <gensio/gensio_class.h>
#include <gensio/gensio_ll_gensio.h>
}
#undef typename

namespace hublink::net {
namespace {

constexpr std::uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                       kSe = 240, kBinary = 0;
constexpr std::uint8_t kCr = 13, kLf = 10, kNul = 0;

constexpr std::array<std::uint8_t, 6> kAsk{kIac, kDo, kBinary, kIac, kWill, kBinary};

// Follows the server's telnet commands through its stream, a byte at a time,
// so a command split across reads is still seen.
class CommandWatch {
public:
    explicit CommandWatch(std::shared_ptr<BinaryAgreement> agreement)
        : agreement_(std::move(agreement)) {}

    void see(const std::uint8_t* bytes, std::size_t len) {
        agreement_->heard += len;
        for (std::size_t i = 0; i < len; ++i) step(bytes[i]);
    }
    void reset() {
        state_ = State::data;
        *agreement_ = {};
    }

private:
    enum class State { data, command, option, sub, subCommand };

    void step(std::uint8_t byte) {
        switch (state_) {
            case State::data: state_ = byte == kIac ? State::command : State::data; break;
            case State::command:
                verb_ = byte;
                state_ = byte >= kWill && byte <= kDont ? State::option
                         : byte == kSb                  ? State::sub
                                                        : State::data;
                break;
            case State::option:
                if (byte == kBinary) agree();
                state_ = State::data;
                break;
            case State::sub: state_ = byte == kIac ? State::subCommand : State::sub; break;
            case State::subCommand: state_ = byte == kSe ? State::data : State::sub; break;
        }
    }
    void agree() {
        if (verb_ == kDo || verb_ == kDont) agreement_->sending = verb_ == kDo;
        if (verb_ == kWill || verb_ == kWont) agreement_->receiving = verb_ == kWill;
    }

    std::shared_ptr<BinaryAgreement> agreement_;
    State state_ = State::data;
    std::uint8_t verb_ = 0;
};

struct Layer {
    explicit Layer(std::shared_ptr<BinaryAgreement> agreement) : watch(std::move(agreement)) {}
    CommandWatch watch;
    std::size_t askSent = 0;  // of kAsk
    std::vector<std::uint8_t> seen;
};

// Our question goes out before whatever the telnet layer writes first.
int writeDown(Layer& layer, gensio_ul_filter_data_handler handler, void* cbData, gensiods* rcount,
              const gensio_sg* sg, gensiods sglen, const char* const* aux) {
    if (rcount != nullptr) *rcount = 0;
    while (layer.askSent < kAsk.size()) {
        const gensio_sg ask{kAsk.data() + layer.askSent, kAsk.size() - layer.askSent};
        gensiods taken = 0;
        if (const int err = handler(cbData, &taken, &ask, 1, nullptr); err != 0) return err;
        if (taken == 0) return 0;
        layer.askSent += taken;
    }
    if (sg == nullptr || sglen == 0) return 0;
    return handler(cbData, rcount, sg, sglen, aux);
}

int passUp(Layer& layer, gensio_ll_filter_data_handler handler, void* cbData, gensiods* rcount,
           unsigned char* buf, gensiods buflen, const char* const* aux) {
    if (rcount != nullptr) *rcount = 0;
    if (buf == nullptr || buflen == 0) return 0;
    // The layers above may work in the buffer they are handed.
    layer.seen.assign(buf, buf + buflen);
    gensiods taken = 0;
    const int err = handler(cbData, &taken, buf, buflen, aux);
    layer.watch.see(layer.seen.data(), std::min<std::size_t>(taken, buflen));
    if (rcount != nullptr) *rcount = taken;
    return err;
}

int layerFunc(gensio_filter* filter, int op, void* func, void* data, gensiods* count, void* buf,
              const void* cbuf, gensiods buflen, const char* const* auxdata) {
    auto& layer = *static_cast<Layer*>(gensio_filter_get_user_data(filter));
    switch (op) {
        case GENSIO_FILTER_FUNC_UL_WRITE_SG:
            return writeDown(layer, reinterpret_cast<gensio_ul_filter_data_handler>(func), data,
                             count, static_cast<const gensio_sg*>(cbuf), buflen,
                             static_cast<const char* const*>(buf));
        case GENSIO_FILTER_FUNC_LL_WRITE:
            return passUp(layer, reinterpret_cast<gensio_ll_filter_data_handler>(func), data, count,
                          static_cast<unsigned char*>(buf), buflen, auxdata);
        case GENSIO_FILTER_FUNC_LL_WRITE_PENDING: return layer.askSent < kAsk.size();
        case GENSIO_FILTER_FUNC_UL_READ_PENDING:
        case GENSIO_FILTER_FUNC_LL_READ_NEEDED: return false;
        case GENSIO_FILTER_FUNC_SET_CALLBACK:
        case GENSIO_FILTER_FUNC_CHECK_OPEN_DONE:
        case GENSIO_FILTER_FUNC_TRY_CONNECT:
        case GENSIO_FILTER_FUNC_TRY_DISCONNECT:
        case GENSIO_FILTER_FUNC_TIMEOUT:
        case GENSIO_FILTER_FUNC_SETUP:
        case GENSIO_FILTER_FUNC_IO_ERR: return 0;
        case GENSIO_FILTER_FUNC_CLEANUP:
            layer.askSent = 0;
            layer.watch.reset();
            return 0;
        case GENSIO_FILTER_FUNC_FREE:
            delete &layer;
            gensio_filter_free_data(filter);
            return 0;
        default: return GE_NOTSUP;
    }
}

}  // namespace

gensio* withBinaryAsked(gensio_os_funcs* os, gensio* lower,
                        std::shared_ptr<BinaryAgreement> agreement) {
    gensio_ll* ll = gensio_gensio_ll_alloc(os, lower);
    if (ll == nullptr) {
        gensio_free(lower);
        return nullptr;
    }
    auto* layer = new (std::nothrow) Layer(std::move(agreement));
    gensio_filter* filter = layer != nullptr ? gensio_filter_alloc_data(os, layerFunc, layer) : nullptr;
    gensio* io = filter != nullptr
                     ? base_gensio_alloc(os, ll, filter, lower, "hubtelnetbinary", nullptr, nullptr)
                     : nullptr;
    if (io == nullptr) {
        if (filter != nullptr) gensio_filter_free(filter);  // frees the layer too
        else delete layer;
        gensio_ll_free(ll);  // and `lower` with it
        return nullptr;
    }
    gensio_set_is_client(io, true);
    gensio_set_is_reliable(io, true);
    return io;
}

std::vector<std::uint8_t> nvtEncoded(std::span<const std::uint8_t> bytes) {
    std::vector<std::uint8_t> out;
    out.reserve(bytes.size() + 4);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out.push_back(bytes[i]);
        const bool lfFollows = i + 1 < bytes.size() && bytes[i + 1] == kLf;
        if (bytes[i] == kCr && !lfFollows) out.push_back(kNul);
    }
    return out;
}

std::size_t NvtReader::decode(std::uint8_t* buf, std::size_t len) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < len; ++i) {
        const bool dropped = afterCr_ && buf[i] == kNul;
        afterCr_ = buf[i] == kCr;
        if (!dropped) buf[kept++] = buf[i];
    }
    return kept;
}

}  // namespace hublink::net
