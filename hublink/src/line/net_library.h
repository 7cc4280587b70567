// Where network lines come from: a library of their own, loaded the first
// time a program names a port URL, so that a command on a local port maps
// nothing of the network (gensio and the libraries it brings).
#pragma once

#include <memory>
#include <string>

#include "netline/net_line.h"

namespace hublink {

// The library is lib/hubtools/netline/libnetline.so beside the program's
// bin/ (the build tree has the same layout; for the Python package's
// module, under the prefix its lib/python3*/ is in), else wherever the dynamic
// linker finds libnetline.so (LD_LIBRARY_PATH, say). HUBLINK_NETLINE, when
// set, names its file instead.
inline constexpr const char* kNetLibraryName = "libnetline.so";

// A new, closed network line; none when the library cannot be loaded or is
// not the one this program was built with, the reason then in `why`. The
// library is loaded once per process and stays loaded.
std::unique_ptr<NetLine> newNetLine(std::string& why);

}  // namespace hublink
