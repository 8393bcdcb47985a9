#include "platform/HotPlugWatch.h"

#include <libudev.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>

namespace tarnflow {

namespace fs = std::filesystem;

namespace {

udev* AsUdev(void* p) {
    return static_cast<udev*>(p);
}
udev_monitor* AsMonitor(void* p) {
    return static_cast<udev_monitor*>(p);
}

std::string Property(udev_device* device, const char* name) {
    const char* value = udev_device_get_property_value(device, name);
    return value != nullptr ? value : "";
}

// "driver:vid:pid:ttyXXX" as Port Search names real devices, from udev's properties.
SerialDevice FromUdev(udev_device* device) {
    SerialDevice serial;
    const char* node = udev_device_get_devnode(device);
    const char* sysname = udev_device_get_sysname(device);
    serial.node = node != nullptr ? node : "";
    std::string driver = Property(device, "ID_USB_DRIVER");
    if (driver.empty()) {
        udev_device* parent = udev_device_get_parent(device);
        const char* parentDriver = parent != nullptr ? udev_device_get_driver(parent) : nullptr;
        driver = parentDriver != nullptr ? parentDriver : "unknown";
    }
    serial.deviceName = driver + ":";
    const std::string vendor = Property(device, "ID_VENDOR_ID");
    if (!vendor.empty()) {
        serial.deviceName += vendor + ":" + Property(device, "ID_MODEL_ID") + ":";
    }
    serial.deviceName += sysname != nullptr ? sysname : "";
    serial.physicalPath = Property(device, "ID_PATH");
    return serial;
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
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) {
        return false;
    }
    watch_ =
        inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM);
    if (watch_ < 0) {
        Stop();
        return false;
    }
    folder_ = folder;
    for (const auto& device : ListDeviceMapFolder(folder)) {
        known_[device.deviceName] = device;
    }
    return true;
}

bool HotPlugWatch::StartUdev() {
    Stop();
    udev* context = udev_new();
    if (context == nullptr) {
        return false;
    }
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
    if (monitor == nullptr ||
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
    fd_ = udev_monitor_get_fd(monitor);
    return fd_ >= 0;
}

void HotPlugWatch::Stop() {
    if (monitor_ != nullptr) {
        udev_monitor_unref(AsMonitor(monitor_));  // owns the descriptor
        monitor_ = nullptr;
        fd_ = -1;
    }
    if (udev_ != nullptr) {
        udev_unref(AsUdev(udev_));
        udev_ = nullptr;
    }
    if (fd_ >= 0) {
        close(fd_);
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

std::vector<HotPlugEvent> HotPlugWatch::ReadFolderEvents() {
    std::vector<HotPlugEvent> events;
    alignas(inotify_event) char buffer[sizeof(inotify_event) + NAME_MAX + 1];
    for (;;) {
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n <= 0) {
            break;  // EAGAIN: nothing more waits
        }
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->len == 0) {
                continue;
            }
            const std::string name = event->name;
            if (event->mask & (IN_CREATE | IN_MOVED_TO)) {
                std::error_code error;
                fs::path target = fs::read_symlink(fs::path(folder_) / name, error);
                if (error) {
                    continue;
                }
                if (target.is_relative()) {
                    target = fs::path(folder_) / target;
                }
                SerialDevice device{name, target.lexically_normal().string(), ""};
                known_[name] = device;
                events.push_back({HotPlugEvent::Kind::Arrival, device});
            } else if (event->mask & (IN_DELETE | IN_MOVED_FROM)) {
                const auto known = known_.find(name);
                if (known == known_.end()) {
                    continue;
                }
                events.push_back({HotPlugEvent::Kind::Removal, known->second});
                known_.erase(known);
            }
        }
    }
    return events;
}

std::vector<HotPlugEvent> HotPlugWatch::ReadUdevEvents() {
    std::vector<HotPlugEvent> events;
    while (udev_device* device = udev_monitor_receive_device(AsMonitor(monitor_))) {
        const char* action = udev_device_get_action(device);
        const std::string what = action != nullptr ? action : "";
        SerialDevice serial = FromUdev(device);
        udev_device_unref(device);
        if (serial.node.empty()) {
            continue;
        }
        if (what == "add") {
            known_[serial.node] = serial;
            events.push_back({HotPlugEvent::Kind::Arrival, serial});
        } else if (what == "remove") {
            const auto known = known_.find(serial.node);
            events.push_back(
                {HotPlugEvent::Kind::Removal, known != known_.end() ? known->second : serial});
            if (known != known_.end()) {
                known_.erase(known);
            }
        }
    }
    return events;
}

}  // namespace tarnflow
