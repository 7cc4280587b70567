// TCP acknowledgements without delay, which gensio 2.6 neither asks for nor
// lets its user ask for: it hands out neither its sockets nor their
// descriptors.
//
// A server without nodelay (ser2net's default) holds a small write until its
// last one was acknowledged, and Linux delays acknowledgements by up to
// 40 ms once a connection looks interactive (a write right after a read).
// TCP_QUICKACK, asked again after every read and write (Linux drops it by
// itself), acknowledges each answer at once.
#pragma once

struct gensio_os_funcs;

namespace hublink::net {

// Called after a socket write of an os handler went out.
using SentHook = void (*)(gensio_os_funcs* os);

// Makes every socket read and write of `os` ask for quick acknowledgements
// after it, and every write that went out call `sent` (the same for every os
// handler of the process). Call once per os handler, before it carries a
// connection.
void askQuickAcks(gensio_os_funcs* os, SentHook sent);

}  // namespace hublink::net
