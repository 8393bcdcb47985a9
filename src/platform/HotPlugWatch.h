#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/DeviceMap.h"

namespace tarnflow {

struct HotPlugEvent {
    enum class Kind { Arrival, Removal };
    Kind kind = Kind::Arrival;
    SerialDevice device;  // for a removal: as it was when it arrived or was first listed
};

// Serial devices arriving and leaving. Watches a device-map folder (inotify) when one is set,
// else the tty subsystem through a udev monitor. Fd() becomes readable when events wait, so a
// window can watch it (QSocketNotifier) and a command-line loop can poll it. One thread only.
class HotPlugWatch {
  public:
    HotPlugWatch() = default;
    ~HotPlugWatch();
    HotPlugWatch(const HotPlugWatch&) = delete;
    HotPlugWatch& operator=(const HotPlugWatch&) = delete;

    // The folder of DeviceMapFolder() when set, else udev. False when neither can be watched.
    bool Start();
    bool StartFolder(const std::string& folder);
    bool StartUdev();
    void Stop();

    int Fd() const { return fd_; }

    // The events that wait, oldest first; never blocks.
    std::vector<HotPlugEvent> ReadEvents();

  private:
    std::vector<HotPlugEvent> ReadFolderEvents();
    std::vector<HotPlugEvent> ReadUdevEvents();

    int fd_ = -1;
    int watch_ = -1;
    std::string folder_;
    void* udev_ = nullptr;                       // struct udev*
    void* monitor_ = nullptr;                    // struct udev_monitor*
    std::map<std::string, SerialDevice> known_;  // by device name (folder) or node (udev)
};

}  // namespace tarnflow
