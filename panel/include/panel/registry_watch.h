// Notices serial devices appearing in or leaving the program's device
// registry, so a window can list the hubs again. No Qt: the window polls fd()
// with whatever event loop it has (a QSocketNotifier, say).
#pragma once

#include <memory>
#include <string>

namespace panel {

namespace detail {
class WatchSource;
}

class RegistryWatch {
public:
    // Watches the registry hublink::defaultRegistry() stands for now:
    // HUBLINK_REGISTRY_ROOT=DIR (read once, here) means DIR/dev and
    // DIR/sys/class/tty, watched by inotify; otherwise the host's tty devices,
    // through udev. Never throws except std::bad_alloc; never blocks.
    RegistryWatch();
    // The tree under `root` (as above with DIR = root); an empty root means
    // the host.
    explicit RegistryWatch(const std::string& root);
    ~RegistryWatch();
    RegistryWatch(const RegistryWatch&) = delete;
    RegistryWatch& operator=(const RegistryWatch&) = delete;

    // Readable when a device may have appeared or gone; stays open for the
    // object's life. -1 when nothing can be watched (failure() says why):
    // the window then lists only on request.
    int fd() const;
    // Why fd() is -1; empty while watching works.
    const std::string& failure() const;

    // Reads every pending event without blocking. True when any may concern a
    // device appearing or disappearing (a name in dev/ beginning with "tty",
    // any entry of sys/class/tty, a udev add/remove/move of a tty, or the
    // registry's directories themselves coming or going); then the list of
    // candidates is worth reading again. False with fd() == -1.
    bool drain();

private:
    std::unique_ptr<detail::WatchSource> source_;
    std::string failure_;
};

}  // namespace panel
