#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "EngineHarness.h"
#include "support/PtyPair.h"

namespace tarnflow::testing {

// A phone's boot loader played on the master side of a pseudo-terminal, as a real one behaves:
// it takes apart what the engine wrote (framed requests, raw 1024-byte blocks, the Retry
// Packet), carries out what it is asked and keeps what it was sent in its flash, so that a block
// written to the wrong place shows as a wrong flash.
//
// Placement follows the loader's rule: an erase (REQ_FLASH_ERASE start, length) opens places
// 0 .. length/1024 - 1 at the start address; each block received goes to the next place; after
// the Retry Packet the next block goes to the place of the last block received (one place back);
// a block the loader refused is not written and the next block goes to its place. A block with
// no place left, or outside any erase, is not a block the loader expects: it stays silent.
//
// Timing and faults are not the loader's business: Take gives the answer a sound loader sends,
// the scenario decides when, whether and how it reaches the line.
//
// The engine reaches the phone through `devicePath`, a symbolic link to the pseudo-terminal's
// slave made here and removed when the phone is pulled out: the kernel hands out the numbers of
// closed pseudo-terminals again, at its own pace, and the phone's name must not depend on that.
class ScenarioPhone {
  public:
    explicit ScenarioPhone(std::string devicePath);
    ~ScenarioPhone();
    ScenarioPhone(const ScenarioPhone&) = delete;
    ScenarioPhone& operator=(const ScenarioPhone&) = delete;

    bool Valid() const { return pty_.Valid() && linked_; }
    std::string Error() const;
    const std::string& DevicePath() const { return devicePath_; }
    bool Present() const { return present_; }

    // Everything the engine wrote since the last call, as whole items; an item not yet complete
    // stays for the next call. Never waits.
    std::vector<WireItem> DrainItems();

    struct Answer {
        std::optional<Bytes> payload;  // none: a real loader stays silent
        std::string what;              // what the item was, for the event log
    };
    // Carries out `item` (unless `carryOut` is false: the loader refuses it and changes
    // nothing but the place of a refused block) and returns the sound answer to it.
    Answer Take(const WireItem& item, bool carryOut);

    // Writes the framed answer, preceded by XOFF when asked, in one write.
    bool SendAnswer(const Bytes& payload, bool xoffFirst);
    bool SendRaw(uint8_t byte);
    // Pulls the phone out: the engine's side of the line sees a hang-up.
    void Unplug();
    // Throws away the start of an item the engine never finished writing (the phone is reset).
    void DropInput() { pending_.clear(); }

    // The flash block at `address` (a multiple of 1024 from an erase's start), or null when
    // it is erased or was never written.
    const Bytes* FlashBlock(uint32_t address) const;
    // True when every place of the latest erase holds a block.
    bool FlashComplete() const {
        return sequence_ && !sequence_->forced && sequence_->next >= sequence_->count;
    }
    // True when a jump came after every place of the latest erase was written: the phone
    // starts what it holds.
    bool JumpedAfterFlash() const { return jumpedAfterFlash_; }

  private:
    struct Sequence {
        uint32_t base = 0;
        uint32_t count = 0;
        uint32_t next = 0;
        uint32_t last = 0;
        std::optional<uint32_t> forced;
    };

    Answer TakeRequest(const WireItem& item, bool carryOut);
    Answer TakeBlock(const WireItem& item, bool carryOut);
    void Erase(uint32_t start, uint32_t length);

    PtyPair pty_;
    std::string devicePath_;
    bool linked_ = false;
    bool present_ = true;
    std::deque<uint8_t> pending_;
    std::optional<Sequence> sequence_;
    std::map<uint32_t, Bytes> flash_;  // by block address
    bool jumpedAfterFlash_ = false;
};

}  // namespace tarnflow::testing
