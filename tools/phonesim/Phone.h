#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "phonesim/FaultSettings.h"
#include "phonesim/LoaderCore.h"
#include "phonesim/PseudoTerminal.h"
#include "phonesim/SparseFlash.h"

namespace tarnflow::phonesim {

struct PhoneOptions {
    uint32_t baud = 0;  // line rate the phone paces its input and answers to; 0: unpaced
    FaultSettings faults;
    std::string deviceLink;  // device-map entry to make for the slave; empty: none
};

// One simulated phone: a boot loader on its own pseudo-terminal and thread. The tool under test
// opens SlavePath(). Start and Stop belong to the owner's thread; the state accessors and
// SetFaults may be called from any thread at any time.
class Phone {
  public:
    Phone() = default;
    ~Phone() { Stop(); }
    Phone(const Phone&) = delete;
    Phone& operator=(const Phone&) = delete;

    // Opens the pseudo-terminal, makes the device link and starts the thread; false with
    // Error() set when any of it fails. A phone starts afresh: erased, nothing received.
    bool Start(const PhoneOptions& options);
    // Ends the thread and waits for it, closes the pseudo-terminal and removes the device link.
    // The state stays readable.
    void Stop();

    const std::string& SlavePath() const { return slavePath_; }
    const std::string& DeviceLink() const { return deviceLink_; }
    const std::string& Error() const { return error_; }

    void SetFaults(const FaultSettings& faults);

    // Bytes of the phone flash, 0xFF where erased or never written.
    std::vector<uint8_t> ReadFlash(uint32_t address, size_t length) const;
    // Bytes of VPX area `area` (1-6) from `offset`, 0xFF where erased or never written.
    std::vector<uint8_t> ReadArea(int area, uint32_t offset, size_t length) const;
    std::vector<RequestRecord> Requests() const;
    PhoneStats Stats() const;
    PhoneMemory Memory() const;

  private:
    void Loop();
    bool Wait(std::optional<TimePoint> wakeAt, bool wantWrite);
    void ReadInput();
    void WritePending();

    mutable std::mutex mutex_;
    LoaderCore core_;  // guarded by mutex_
    // Owned by the thread while it runs.
    PseudoTerminal pty_;
    bool masterUsable_ = true;
    std::vector<uint8_t> pending_;

    int stopFd_ = -1;
    std::thread thread_;
    std::string slavePath_;
    std::string deviceLink_;
    std::string error_;
};

}  // namespace tarnflow::phonesim
