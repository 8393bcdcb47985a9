// Port Search over the device map, and ports arriving and leaving.
#include <cstdlib>

#include "engine/DloadEngine.h"

namespace tarnflow {

namespace {

// The number in a port name such as "COM12": the digits after its first three characters, read
// as atoi reads them.
int PortNumberOf(const std::string& portName) {
    if (portName.size() <= 3) {
        return 0;
    }
    return std::atoi(portName.c_str() + 3);
}

}  // namespace

void CDloadEngine::OnPortSearch(const std::vector<DeviceMapEntry>& deviceMap,
                                const std::string& tag) {
    for (auto& e : entries) {
        e.comPort = 0;
    }
    int slot = 0;
    for (const auto& device : deviceMap) {
        if (device.deviceName.find(tag) == std::string::npos) {
            continue;
        }
        if (slot == kEntryCount) {
            break;
        }
        entries[slot++].comPort = PortNumberOf(device.portName);
    }
    host_.UpdateEntryLabels();
}

void CDloadEngine::OnPortArrival(const std::string& portName) {
    if (connectedCount() != kEntryCount) {
        const int n = PortNumberOf(portName);
        // A port one entry already holds must not be given to a second one.
        bool known = false;
        for (const auto& e : entries) {
            known = known || (n != 0 && e.comPort == n);
        }
        if (known) {
            host_.MessageBox("이미 사용중인 COM Port로 연결을 시도하셨습니다.",
                             MessageBoxStyle::Ok);
        } else {
            for (auto& e : entries) {
                if (e.comPort == 0) {
                    e.comPort = n;
                    break;
                }
            }
        }
        host_.UpdateEntryLabels();
    }
    OnKickIdle(0);
}

void CDloadEngine::OnPortRemoval(const std::string& portName) {
    const int n = PortNumberOf(portName);
    for (int i = 0; n != 0 && i < kEntryCount; ++i) {
        EntryRecord& e = entries[i];
        if (e.comPort != n) {
            continue;
        }
        e.comPort = 0;
        if (e.step != DL_START && e.step != DL_RESET) {
            MarkFailed(i);
            host_.ShowEntryProgress(i, PROG_ERROR, true);
            e.step = DL_START;
        }
        host_.UpdateEntryLabels();
        break;
    }
    if (connectedCount() == 0) {
        ResetAllEntries();
    }
    OnKickIdle(0);
    CheckDownloadProgress();
}

}  // namespace tarnflow
