#include "panel/registry_watch.h"

#include <hublink/fd_guard.h>

#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace panel {

namespace detail {

class WatchSource {
public:
    virtual ~WatchSource() = default;
    virtual int fd() const = 0;
    virtual bool drain() = 0;
};

}  // namespace detail

namespace {

// A flood of events must not keep the window's thread here: what is left
// keeps the descriptor readable for the next round.
constexpr int kMaxReadsPerDrain = 256;

std::string errnoText(int error) { return std::strerror(error); }

bool readableNow(int fd) {
    pollfd p{fd, POLLIN, 0};
    int n;
    do n = ::poll(&p, 1, 0);
    while (n < 0 && errno == EINTR);
    return n > 0 && (p.revents & POLLIN) != 0;
}

// The tree under a root: root/dev holds the device links, root/sys/class/tty
// the entries the candidate list is read from. Both are watched, since their
// entries come one after the other; the root too, so that a registry removed
// and made again (hubsim stopped and started) is watched again.
class InotifySource final : public detail::WatchSource {
public:
    // Empty `failure` on success.
    InotifySource(const std::string& root, std::string& failure)
        : root_(root), dev_(root + "/dev"), tty_(root + "/sys/class/tty"),
          fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (fd_.get() < 0) {
            const int error = errno;
            failure = "cannot watch " + dev_ + ": inotify: " + errnoText(error);
            return;
        }
        rootWd_ = addWatch(root_);
        devWd_ = addWatch(dev_);
        if (devWd_ < 0) {
            const int error = errno;
            failure = "cannot watch " + dev_ + ": " + errnoText(error);
            return;
        }
        ttyWd_ = addWatch(tty_);  // optional: dev/ alone tells every device
    }

    int fd() const override { return fd_.get(); }

    bool drain() override {
        bool changed = false;
        // Aligned for the struct inotify_event records the kernel writes.
        alignas(inotify_event) char buffer[8192];
        for (int reads = 0; reads < kMaxReadsPerDrain; ++reads) {
            const ssize_t n = ::read(fd_.get(), buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;  // EAGAIN: all read
            for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                changed |= concerns(*event);
                at += ssize_t(sizeof(inotify_event)) + event->len;
            }
        }
        return rearm() || changed;
    }

private:
    static constexpr uint32_t kEntryEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;

    int addWatch(const std::string& path) {
        return ::inotify_add_watch(fd_.get(), path.c_str(),
                                   kEntryEvents | IN_ONLYDIR | IN_DELETE_SELF | IN_MOVE_SELF);
    }

    // A watch whose directory went or moved no longer stands for its path.
    void forget(int& wd, uint32_t mask) {
        if ((mask & IN_MOVE_SELF) != 0) ::inotify_rm_watch(fd_.get(), wd);
        wd = -1;
    }

    bool concerns(const inotify_event& event) {
        if ((event.mask & IN_Q_OVERFLOW) != 0) return true;  // lost events: anything may be new
        const std::string_view name = event.len > 0 ? std::string_view(event.name) : "";
        const bool gone = (event.mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) != 0;
        if (event.wd == devWd_) {
            if (gone) {
                forget(devWd_, event.mask);
                return true;
            }
            // Serial devices are tty*; other files in dev/ are not listed.
            return (event.mask & kEntryEvents) != 0 && name.starts_with("tty");
        }
        if (event.wd == ttyWd_) {
            if (gone) {
                forget(ttyWd_, event.mask);
                return true;
            }
            return (event.mask & kEntryEvents) != 0;
        }
        if (event.wd == rootWd_) {
            if (gone) {
                forget(rootWd_, event.mask);
                return false;
            }
            return (event.mask & kEntryEvents) != 0 && (name == "dev" || name == "sys");
        }
        return false;  // a watch already forgotten
    }

    // Watches directories that have come back; true when one did, since its
    // entries were made before it was watched.
    bool rearm() {
        bool back = false;
        if (rootWd_ < 0) rootWd_ = addWatch(root_);
        if (devWd_ < 0 && (devWd_ = addWatch(dev_)) >= 0) back = true;
        if (ttyWd_ < 0 && (ttyWd_ = addWatch(tty_)) >= 0) back = true;
        return back;
    }

    std::string root_;
    std::string dev_;
    std::string tty_;
    hublink::FdGuard fd_;
    int rootWd_ = -1;
    int devWd_ = -1;
    int ttyWd_ = -1;
};

// The host: udev tells when it has made or removed a tty device (after its
// rules ran, so the device node and sysfs entry are in place).
class UdevSource final : public detail::WatchSource {
public:
    explicit UdevSource(std::string& failure) : udev_(::udev_new()) {
        if (udev_ == nullptr) {
            const int error = errno;
            failure = "cannot watch the host's devices: udev: " + errnoText(error);
            return;
        }
        monitor_ = ::udev_monitor_new_from_netlink(udev_, "udev");
        if (monitor_ == nullptr) {
            const int error = errno;
            failure = "cannot watch the host's devices: udev monitor: " + errnoText(error);
            return;
        }
        int r = ::udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr);
        if (r >= 0) r = ::udev_monitor_enable_receiving(monitor_);
        const int fd = r >= 0 ? ::udev_monitor_get_fd(monitor_) : -1;
        if (fd < 0) {
            const int error = r < 0 ? -r : errno;
            failure = "cannot watch the host's devices: udev monitor: " + errnoText(error);
            return;
        }
        // drain() must never wait; libudev's socket is meant to be so already.
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0 && (flags & O_NONBLOCK) == 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
        fd_ = fd;
    }
    ~UdevSource() override {
        if (monitor_ != nullptr) ::udev_monitor_unref(monitor_);  // closes its socket
        if (udev_ != nullptr) ::udev_unref(udev_);
    }
    UdevSource(const UdevSource&) = delete;
    UdevSource& operator=(const UdevSource&) = delete;

    int fd() const override { return fd_; }

    bool drain() override {
        bool changed = false;
        // Some libudev versions return no device for a message the filter
        // dropped while more are queued, so readiness decides when to stop.
        for (int reads = 0; reads < kMaxReadsPerDrain && readableNow(fd_); ++reads) {
            udev_device* device = ::udev_monitor_receive_device(monitor_);
            if (device == nullptr) continue;
            const char* action = ::udev_device_get_action(device);
            const std::string_view a = action != nullptr ? action : "";
            changed |= a == "add" || a == "remove" || a == "move";
            ::udev_device_unref(device);
        }
        return changed;
    }

private:
    udev* udev_;
    udev_monitor* monitor_ = nullptr;
    int fd_ = -1;
};

std::string registryRootFromEnvironment() {
    const char* root = std::getenv("HUBLINK_REGISTRY_ROOT");
    return root != nullptr ? std::string(root) : std::string();
}

}  // namespace

RegistryWatch::RegistryWatch() : RegistryWatch(registryRootFromEnvironment()) {}

RegistryWatch::RegistryWatch(const std::string& root) {
    std::string failure;
    std::unique_ptr<detail::WatchSource> source;
    if (root.empty())
        source = std::make_unique<UdevSource>(failure);
    else
        source = std::make_unique<InotifySource>(root, failure);
    if (failure.empty())
        source_ = std::move(source);
    else
        failure_ = std::move(failure);
}

RegistryWatch::~RegistryWatch() = default;

int RegistryWatch::fd() const { return source_ ? source_->fd() : -1; }

const std::string& RegistryWatch::failure() const { return failure_; }

bool RegistryWatch::drain() { return source_ ? source_->drain() : false; }

}  // namespace panel
