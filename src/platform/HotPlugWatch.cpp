#include "platform/HotPlugWatch.h"

#include <fcntl.h>
#include <libudev.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <system_error>

#include "platform/SerialDevices.h"

namespace tarnflow {

namespace fs = std::filesystem;

namespace {

udev* AsUdev(void* p) {
    return static_cast<udev*>(p);
}

udev_monitor* AsMonitor(void* p) {
    return static_cast<udev_monitor*>(p);
}

// A device-map link as a device: its name, and its target (taken from the folder when
// relative) as node, whether or not the node exists yet; a link to a tty with hardware behind
// it carries that tty's socket and USB identity.
std::optional<SerialDevice> LinkEntry(const fs::path& folder, const std::string& name) {
    std::error_code error;
    const fs::path target = fs::read_symlink(folder / name, error);
    if (error) {
        return std::nullopt;
    }
    SerialDevice device{name, (folder / target).lexically_normal().string(), "", {}};
    AddNodeIdentity(device);
    return device;
}

// Every link of the folder, by name.
std::map<std::string, SerialDevice> ScanFolder(const fs::path& folder) {
    std::map<std::string, SerialDevice> links;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (auto device = LinkEntry(folder, name)) {
            links[name] = *device;
        }
    }
    return links;
}

bool SameDevice(const SerialDevice& a, const SerialDevice& b) {
    return a.deviceName == b.deviceName && a.node == b.node && a.physicalPath == b.physicalPath;
}

std::string Text(const char* text) {
    return text != nullptr ? text : "";
}

}  // namespace

HotPlugWatch::~HotPlugWatch() {
    Stop();
}

bool HotPlugWatch::Start() {
    const std::string folder = DeviceMapFolder();
    return folder.empty() ? StartUdev() : StartFolder(folder);
}

bool HotPlugWatch::StartFolder(const std::string& folder) {
    Stop();
    std::error_code error;
    const fs::path base = fs::absolute(folder, error);
    if (error) {
        return false;
    }
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) {
        return false;
    }
    watch_ = inotify_add_watch(fd_, base.c_str(),
                               IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_ONLYDIR);
    if (watch_ < 0) {
        Stop();
        return false;
    }
    folder_ = base.string();
    // Listed after the watch is set, so a link made in between is seen; its event then finds
    // it known and reports nothing twice.
    known_ = ScanFolder(base);
    return true;
}

bool HotPlugWatch::StartUdev() {
    Stop();
    udev* context = udev_new();
    if (context == nullptr) {
        return false;
    }
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
    const int fd = monitor != nullptr ? udev_monitor_get_fd(monitor) : -1;
    const int flags = fd >= 0 ? fcntl(fd, F_GETFL) : -1;
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0 ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor, "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        if (monitor != nullptr) {
            udev_monitor_unref(monitor);
        }
        udev_unref(context);
        return false;
    }
    udev_ = context;
    monitor_ = monitor;
    fd_ = fd;
    for (const auto& device : ListUdevTty()) {
        known_[device.node] = device;
    }
    return true;
}

void HotPlugWatch::Stop() {
    if (monitor_ != nullptr) {
        udev_monitor_unref(AsMonitor(monitor_));  // closes the descriptor
        monitor_ = nullptr;
        fd_ = -1;
    }
    if (udev_ != nullptr) {
        udev_unref(AsUdev(udev_));
        udev_ = nullptr;
    }
    if (fd_ >= 0) {
        close(fd_);  // the inotify descriptor; its watch goes with it
        fd_ = -1;
    }
    watch_ = -1;
    folder_.clear();
    known_.clear();
}

std::vector<HotPlugEvent> HotPlugWatch::ReadEvents() {
    if (fd_ < 0) {
        return {};
    }
    return monitor_ != nullptr ? ReadUdevEvents() : ReadFolderEvents();
}

namespace {

// A device seen under a key: an arrival, unless it is there already as it is. A different
// device under a known key (a link replaced by rename) first leaves.
void Arrive(std::map<std::string, SerialDevice>& known, const std::string& key,
            const SerialDevice& device, std::vector<HotPlugEvent>& events) {
    const auto it = known.find(key);
    if (it != known.end()) {
        if (SameDevice(it->second, device)) {
            return;
        }
        events.push_back({HotPlugEvent::Kind::Removal, it->second});
    }
    known[key] = device;
    events.push_back({HotPlugEvent::Kind::Arrival, device});
}

// A device gone: a removal as it was, if it was known at all.
void Leave(std::map<std::string, SerialDevice>& known, const std::string& key,
           std::vector<HotPlugEvent>& events) {
    const auto it = known.find(key);
    if (it != known.end()) {
        events.push_back({HotPlugEvent::Kind::Removal, it->second});
        known.erase(it);
    }
}

}  // namespace

std::vector<HotPlugEvent> HotPlugWatch::ReadFolderEvents() {
    std::vector<HotPlugEvent> events;
    alignas(inotify_event) char buffer[64 * 1024];
    bool overflowed = false;
    for (;;) {
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;  // EAGAIN: nothing more waits
        }
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                overflowed = true;
            }
            if (event->len == 0) {
                continue;
            }
            const std::string name = event->name;
            if (event->mask & (IN_CREATE | IN_MOVED_TO)) {
                if (auto device = LinkEntry(folder_, name)) {
                    Arrive(known_, name, *device, events);
                }
            } else if (event->mask & (IN_DELETE | IN_MOVED_FROM)) {
                Leave(known_, name, events);
            }
        }
    }
    if (overflowed) {
        // Events were lost: what the folder holds now is compared with what was known.
        const auto now = ScanFolder(folder_);
        std::vector<std::string> gone;
        for (const auto& entry : known_) {
            if (now.count(entry.first) == 0) {
                gone.push_back(entry.first);
            }
        }
        for (const auto& name : gone) {
            Leave(known_, name, events);
        }
        for (const auto& [name, device] : now) {
            Arrive(known_, name, device, events);
        }
    }
    return events;
}

std::vector<HotPlugEvent> HotPlugWatch::ReadUdevEvents() {
    std::vector<HotPlugEvent> events;
    while (udev_device* device = udev_monitor_receive_device(AsMonitor(monitor_))) {
        const std::string action = Text(udev_device_get_action(device));
        const std::string node = Text(udev_device_get_devnode(device));
        if (!node.empty() && action == "add") {
            if (auto serial = DescribeUdevTty(device, UdevSource::Event)) {
                Arrive(known_, node, *serial, events);
            }
        } else if (!node.empty() && action == "remove") {
            Leave(known_, node, events);
        }
        udev_device_unref(device);
    }
    return events;
}

}  // namespace tarnflow
