#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "phonesim/FaultSettings.h"
#include "phonesim/LineQueues.h"
#include "phonesim/RequestParser.h"
#include "phonesim/SparseFlash.h"

namespace tarnflow::phonesim {

struct RequestRecord {
    uint8_t code = 0;
    std::vector<uint8_t> bytes;  // the decoded request, code first, FCS removed
};

struct PhoneStats {
    uint32_t jumps = 0;
    uint32_t blocksReceived = 0;  // image blocks taken off the line (not the Retry Packet)
    uint32_t retryPackets = 0;
    uint32_t answersSent = 0;         // answer frames put on the line
    uint32_t badFrames = 0;           // frames dropped for their FCS or their form
    uint32_t discardedPartials = 0;   // stalled partial blocks thrown away
    uint32_t completedSequences = 0;  // erases whose every block was written
    uint32_t xoffHolds = 0;           // times the line was held with XOFF after a block
    uint64_t bytesIn = 0;             // bytes read from the tool
    uint64_t bytesHandled = 0;        // of those, bytes the phone has dealt with
    bool finalJump = false;           // a jump came after the latest erase's blocks were all in
    bool silent = false;
    bool unplugged = false;
};

// The boot loader of one phone, without any I/O: bytes from the tool go in with the time they
// were read, Run() handles whatever is due, and the answer bytes come out with the time each is
// to be written. Not thread-safe; the phone serialises the calls.
class LoaderCore {
  public:
    explicit LoaderCore(uint32_t baud = 0, FaultSettings faults = {});

    void SetFaults(FaultSettings faults);
    void Receive(const uint8_t* bytes, size_t count, TimePoint now);
    // Handles everything due by `now`; returns when it next has something to do, if ever.
    std::optional<TimePoint> Run(TimePoint now);
    void TakeOutput(TimePoint now, std::vector<uint8_t>& out) { output_.TakeDue(now, out); }
    std::optional<TimePoint> NextOutput() const { return output_.NextDue(); }

    const PhoneMemory& Memory() const { return memory_; }
    const std::vector<RequestRecord>& Requests() const { return requests_; }
    const PhoneStats& Stats() const { return stats_; }

  private:
    enum class Mode { Requests, Blocks };

    struct Step {
        bool progressed = false;
        std::optional<TimePoint> wakeAt;
    };

    enum class Probe { Match, Mismatch, Wait };

    // An erase whose answer waits for the erase time.
    struct PendingErase {
        TimePoint doneAt;
        std::optional<std::vector<uint8_t>> answer;
        bool sendXon = false;
    };

    // The blocks that follow one erase.
    struct Sequence {
        int area = 0;  // 0: the phone flash at `base`; 1-6: that VPX area from offset 0
        uint32_t base = 0;
        uint32_t count = 0;
        uint32_t nextPlace = 0;
        uint32_t lastPlace = 0;  // the block the Retry Packet asks for again
        std::optional<uint32_t> forcedPlace;
        bool complete = false;
    };

    Step StepRequests();
    Step StepBlocks();
    Probe ProbeRetryPacket(TimePoint& wakeAt) const;
    bool SkipFillByte();
    TimePoint StallDeadline(size_t missing) const;
    bool PendingHoldsValidFrame() const;

    void HandleFrame(const ParsedFrame& frame);
    void HandleRequest(const std::vector<uint8_t>& request, uint32_t index);
    std::vector<uint8_t> CarryOut(const std::vector<uint8_t>& request, bool& erase);
    void StartSequence(int area, uint32_t base, uint32_t length);
    void HandleBlock(const std::vector<uint8_t>& block);
    void HandleStalledPartial();
    void FinishErase();
    void HoldWithXoff(Nanos hold);

    const AnswerFault* TakeFault(FaultTarget target, uint32_t index);
    void QueueAnswer(const std::vector<uint8_t>& payload);
    void QueueRaw(uint8_t byte);
    void Consume(size_t count);
    std::vector<uint8_t> TakeInput(size_t count);
    void DropInput();
    void BackToRequests();

    Nanos byteTime_;
    FaultSettings faults_;
    std::vector<bool> fired_;
    bool xoffHoldFired_ = false;
    TimePoint now_{};
    InputQueue input_;
    OutputQueue output_;
    RequestParser parser_;
    Mode mode_ = Mode::Requests;
    size_t fillToSkip_ = 0;
    std::optional<PendingErase> erase_;
    std::optional<Sequence> sequence_;
    PhoneMemory memory_;
    std::vector<RequestRecord> requests_;
    PhoneStats stats_;
};

}  // namespace tarnflow::phonesim
