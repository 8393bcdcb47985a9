#include "engine/PerfMonitor.h"

#include <fstream>
#include <sstream>

namespace tarnflow {

bool CPerfMonitor::Open(const std::string& source) {
    Close();
    source_ = source;
    Times times;
    if (!ReadTimes(times)) {
        return false;
    }
    last_ = times;
    open_ = true;
    return true;
}

void CPerfMonitor::Close() {
    open_ = false;
    last_ = Times{};
}

// The first line: "cpu user nice system idle iowait irq softirq steal ..."; idle and iowait are
// the idle time.
bool CPerfMonitor::ReadTimes(Times& times) const {
    std::ifstream file(source_);
    std::string line;
    if (!file || !std::getline(file, line)) {
        return false;
    }
    std::istringstream fields(line);
    std::string label;
    fields >> label;
    if (label != "cpu") {
        return false;
    }
    uint64_t value = 0;
    uint64_t idle = 0;
    uint64_t total = 0;
    int column = 0;
    while (column < 8 && fields >> value) {
        if (column == 3 || column == 4) {
            idle += value;
        }
        total += value;
        ++column;
    }
    if (column < 4) {
        return false;
    }
    times.total = total;
    times.busy = total - idle;
    return true;
}

int CPerfMonitor::GetCpuLoad() {
    if (!open_) {
        return 0;
    }
    Times now;
    if (!ReadTimes(now) || now.total < last_.total || now.busy < last_.busy) {
        return 0;
    }
    const uint64_t total = now.total - last_.total;
    const uint64_t busy = now.busy - last_.busy;
    last_ = now;
    if (total == 0) {
        return 0;
    }
    return static_cast<int>((busy * 100 + total / 2) / total);
}

}  // namespace tarnflow
