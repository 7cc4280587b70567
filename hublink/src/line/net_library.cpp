#include "line/net_library.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <utility>

// gensio 2.6 never frees the records of RFC 2217 requests still unanswered
// when the server hangs up (24 bytes each; a client that ser2net turns away
// leaves up to four, one a line setting). They are gensio's to free, so a
// sanitized program's leak check passes them by. It has to be the program's:
// the sanitizer reads it at start.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:sergensio_baud\nleak:sergensio_datasize\nleak:sergensio_parity\n"
           "leak:sergensio_stopbits\n";
}

namespace hublink {
namespace {

struct NetLibrary {
    NetLineCreate create = nullptr;
    std::string error;  // when `create` is null
};

// Found from the file this code is in (the program, or a module that
// carries the hub link), not through a run path: one would make the dynamic
// linker search it for every library at every start, URL or not. A program
// is in PREFIX/bin; the Python package's module in
// PREFIX/lib/python3*/{dist,site}-packages/hubtools.
std::filesystem::path besideThisCode() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&besideThisCode), &info) == 0 || info.dli_fname == nullptr)
        return {};
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::weakly_canonical(info.dli_fname, ec);
    if (ec) return {};
    std::filesystem::path prefix = self.parent_path().parent_path();
    const std::filesystem::path packages = self.parent_path().parent_path();
    const std::string folder = packages.filename().string();
    const bool inPython = (folder == "dist-packages" || folder == "site-packages") &&
                          packages.parent_path().filename().string().rfind("python3", 0) == 0 &&
                          packages.parent_path().parent_path().filename() == "lib";
    if (inPython) prefix = packages.parent_path().parent_path().parent_path();
    return prefix / HUB_NETLINE_DIR / kNetLibraryName;
}

// The file to load, and where it was looked for when the linker is to find it.
std::pair<std::string, std::string> libraryPath() {
    const char* chosen = std::getenv("HUBLINK_NETLINE");
    if (chosen != nullptr && *chosen != '\0') return {chosen, {}};
    const std::filesystem::path beside = besideThisCode();
    std::error_code ec;
    if (!beside.empty() && std::filesystem::is_regular_file(beside, ec)) return {beside.string(), {}};
    return {kNetLibraryName, beside.empty() ? std::string() : " (not at " + beside.string() + " either)"};
}

NetLibrary load() {
    const auto [path, lookedAt] = libraryPath();
    const std::string lead = "no network line: ";
    // Never closed: lines and their event loop live as long as the process.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = ::dlerror();
        return {nullptr, lead + (why != nullptr ? why : "cannot load " + path) + lookedAt};
    }
    void* entry = ::dlsym(handle, kNetLineEntry);
    if (entry == nullptr) {
        ::dlclose(handle);
        return {nullptr, lead + path + " is not the network line library (no " + kNetLineEntry + ")"};
    }
    return {reinterpret_cast<NetLineCreate>(entry), {}};
}

const NetLibrary& library() {
    static const NetLibrary loaded = load();
    return loaded;
}

}  // namespace

std::unique_ptr<NetLine> newNetLine(std::string& why) {
    const NetLibrary& lib = library();
    if (lib.create == nullptr) {
        why = lib.error;
        return nullptr;
    }
    std::unique_ptr<NetLine> line(lib.create(kNetLineInterface));
    if (line == nullptr) why = "no network line: the library belongs to another version of the programs";
    return line;
}

}  // namespace hublink
