#pragma once

#include <cstdint>
#include <string>

namespace tarnflow {

// Total processor load in percent, sampled from a /proc/stat style file: the share of non-idle
// time between two samples. A source that cannot be opened or read yields 0.
class CPerfMonitor {
  public:
    static constexpr const char* kDefaultSource = "/proc/stat";

    virtual ~CPerfMonitor() { Close(); }

    // Remembers the source and takes a first reading; false (load then reads 0) when it cannot
    // be read.
    bool Open(const std::string& source = kDefaultSource);
    void Close();
    // Load since the previous sample, 0 to 100; 0 for the first sample or an unreadable source.
    int GetCpuLoad();

  private:
    struct Times {
        uint64_t busy = 0;
        uint64_t total = 0;
    };
    bool ReadTimes(Times& times) const;

    std::string source_;
    bool open_ = false;
    Times last_;
};

}  // namespace tarnflow
