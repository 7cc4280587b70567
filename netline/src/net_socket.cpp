#include "net_socket.h"

#include <gensio/gensio_os_funcs.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace hublink::net {
namespace {

// The unix os handler's own functions, the same in every instance.
struct Originals {
    decltype(gensio_os_funcs::read) read = nullptr;
    decltype(gensio_os_funcs::recv) recv = nullptr;
    decltype(gensio_os_funcs::write) write = nullptr;
    decltype(gensio_os_funcs::send) send = nullptr;
    SentHook sent = nullptr;
};

Originals& originals() {
    static Originals kept;
    return kept;
}

void quickAck(gensio_iod* iod) {
    gensio_os_funcs* os = iod->f;
    if (os->iod_get_type(iod) != GENSIO_IOD_SOCKET) return;
    const int on = 1;
    ::setsockopt(os->iod_get_fd(iod), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

void wentOut(gensio_iod* iod) {
    quickAck(iod);
    if (originals().sent != nullptr && iod->f->iod_get_type(iod) == GENSIO_IOD_SOCKET)
        originals().sent(iod->f);
}

int readThenAck(gensio_iod* iod, void* buf, gensiods len, gensiods* count) {
    const int err = originals().read(iod, buf, len, count);
    if (err == 0) quickAck(iod);
    return err;
}

int recvThenAck(gensio_iod* iod, void* buf, gensiods len, gensiods* count, int flags) {
    const int err = originals().recv(iod, buf, len, count, flags);
    if (err == 0) quickAck(iod);
    return err;
}

int writeThenAck(gensio_iod* iod, const gensio_sg* sg, gensiods sglen, gensiods* count) {
    const int err = originals().write(iod, sg, sglen, count);
    if (err == 0) wentOut(iod);
    return err;
}

int sendThenAck(gensio_iod* iod, const gensio_sg* sg, gensiods sglen, gensiods* count, int flags) {
    const int err = originals().send(iod, sg, sglen, count, flags);
    if (err == 0) wentOut(iod);
    return err;
}

}  // namespace

void askQuickAcks(gensio_os_funcs* os, SentHook sent) {
    if (os->read == readThenAck) return;
    static const bool kept = [os, sent] {
        originals() = {os->read, os->recv, os->write, os->send, sent};
        return true;
    }();
    (void)kept;
    os->read = readThenAck;
    os->recv = recvThenAck;
    os->write = writeThenAck;
    os->send = sendThenAck;
}

}  // namespace hublink::net
