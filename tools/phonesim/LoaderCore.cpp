#include "phonesim/LoaderCore.h"

#include <algorithm>
#include <array>

#include "comm/BlockRecord.h"
#include "comm/Checksums.h"
#include "phonesim/AnswerFrame.h"

namespace tarnflow::phonesim {

namespace {

constexpr uint8_t kReqDlStart = 0xA0;
constexpr uint8_t kReqJump = 0xC0;
constexpr uint8_t kReqFlashErase = 0xEE;
constexpr uint8_t kReqFlashErase2 = 0xEF;
constexpr size_t kEraseRequestLength = 9;
constexpr uint8_t kAck = 0x02;
constexpr uint8_t kXon = 0x11;
constexpr uint8_t kXoff = 0x13;
constexpr std::array<uint8_t, 8> kRetrySignature = {0x01, 0x12, 0x73, 0x80, 0x40, 0x67, 0x24, 0x01};
// A partial block idle this long (plus the line time of its missing bytes when paced) is taken
// as all there is. Long enough that a busy machine pausing the tool in the middle of a block
// write is not mistaken for a stall; short against the tool's 3 s and 5 s answer time-outs.
constexpr auto kStallIdle = std::chrono::milliseconds(1000);

std::vector<uint8_t> RequestAck() {
    return {kAck, 0x6A, 0xD3};
}

std::vector<uint8_t> InvalidCommand() {
    return {0xA3, 0x9E, 0x4C};
}

uint32_t ReadU32(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t{bytes[at]} | (uint32_t{bytes[at + 1]} << 8) | (uint32_t{bytes[at + 2]} << 16) |
           (uint32_t{bytes[at + 3]} << 24);
}

// Refusals leave the request or block undone; a model mismatch is only a warning.
bool CarriedOut(AnswerFaultKind kind) {
    return kind == AnswerFaultKind::Lose || kind == AnswerFaultKind::Damage ||
           kind == AnswerFaultKind::NakModelMismatch;
}

// The answer a fault puts in place of `answer`; none when the answer is lost.
std::optional<std::vector<uint8_t>> FaultAnswer(const AnswerFault& fault,
                                                std::vector<uint8_t> answer) {
    switch (fault.kind) {
        case AnswerFaultKind::Lose:
            return std::nullopt;
        case AnswerFaultKind::Damage:
            answer.back() ^= 0x01;
            return answer;
        case AnswerFaultKind::NakResend:
            answer = {0xA1, 0x00, 0x00};
            break;
        case AnswerFaultKind::NakModelMismatch:
            answer = {0xA2, 0x00, 0x00};
            break;
        case AnswerFaultKind::NakInvalidCmd:
            answer = InvalidCommand();
            break;
        case AnswerFaultKind::NakFailed:
            answer = {0xA4, 0x00, 0x00};
            break;
    }
    if (fault.damaged) {
        answer.back() ^= 0x01;
    }
    return answer;
}

bool IsRetryPacket(const std::vector<uint8_t>& block) {
    return std::equal(kRetrySignature.begin(), kRetrySignature.end(), block.begin());
}

}  // namespace

LoaderCore::LoaderCore(uint32_t baud, FaultSettings faults)
    : byteTime_(ByteTime(baud)), input_(byteTime_), output_(byteTime_) {
    SetFaults(std::move(faults));
}

void LoaderCore::SetFaults(FaultSettings faults) {
    faults_ = std::move(faults);
    fired_.assign(faults_.answerFaults.size(), false);
    xoffHoldFired_ = false;
}

void LoaderCore::Receive(const uint8_t* bytes, size_t count, TimePoint now) {
    stats_.bytesIn += count;
    input_.Push(bytes, count, now);
}

std::optional<TimePoint> LoaderCore::Run(TimePoint now) {
    now_ = now;
    for (;;) {
        if (stats_.silent || stats_.unplugged) {
            DropInput();
            return std::nullopt;
        }
        if (erase_) {
            if (now_ < erase_->doneAt) {
                return erase_->doneAt;
            }
            FinishErase();
            continue;
        }
        const Step step = mode_ == Mode::Blocks ? StepBlocks() : StepRequests();
        if (!step.progressed) {
            return step.wakeAt;
        }
    }
}

LoaderCore::Step LoaderCore::StepRequests() {
    if (input_.Size() == 0) {
        return {};
    }
    if (input_.ReadyAt(0) > now_) {
        return {false, input_.ReadyAt(0)};
    }
    if (SkipFillByte()) {
        return {true, {}};
    }
    // The answer to the last block of an erase may be lost too: its Retry Packet then comes
    // while the phone takes requests again.
    if (sequence_ && sequence_->complete && parser_.AtBoundary() &&
        input_.At(0) == kRetrySignature[0]) {
        TimePoint wakeAt{};
        const Probe probe = ProbeRetryPacket(wakeAt);
        if (probe == Probe::Match) {
            mode_ = Mode::Blocks;
            return {true, {}};
        }
        if (probe == Probe::Wait) {
            return {false, wakeAt};
        }
    }
    const uint8_t byte = input_.At(0);
    Consume(1);
    if (auto frame = parser_.Feed(byte)) {
        HandleFrame(*frame);
    }
    return {true, {}};
}

LoaderCore::Step LoaderCore::StepBlocks() {
    const size_t have = input_.Size();
    if (have == 0) {
        return {};
    }
    if (fillToSkip_ > 0) {
        if (input_.ReadyAt(0) > now_) {
            return {false, input_.ReadyAt(0)};
        }
        if (SkipFillByte()) {
            return {true, {}};
        }
    }
    if (have >= kBlockSize) {
        const TimePoint arrived = input_.ReadyAt(kBlockSize - 1);
        if (arrived > now_) {
            return {false, arrived};
        }
        HandleBlock(TakeInput(kBlockSize));
        return {true, {}};
    }
    const TimePoint stall = StallDeadline(kBlockSize - have);
    if (now_ < stall) {
        return {false, stall};
    }
    HandleStalledPartial();
    return {true, {}};
}

LoaderCore::Probe LoaderCore::ProbeRetryPacket(TimePoint& wakeAt) const {
    const size_t known = std::min(input_.Size(), kRetrySignature.size());
    for (size_t i = 0; i < known; ++i) {
        if (input_.ReadyAt(i) > now_) {
            wakeAt = input_.ReadyAt(i);
            return Probe::Wait;
        }
        if (input_.At(i) != kRetrySignature[i]) {
            return Probe::Mismatch;
        }
    }
    if (known == kRetrySignature.size()) {
        return Probe::Match;
    }
    wakeAt = StallDeadline(kRetrySignature.size() - known);
    return now_ < wakeAt ? Probe::Wait : Probe::Mismatch;
}

bool LoaderCore::SkipFillByte() {
    if (fillToSkip_ == 0) {
        return false;
    }
    if (input_.At(0) != 0x00) {
        fillToSkip_ = 0;
        return false;
    }
    --fillToSkip_;
    Consume(1);
    return true;
}

TimePoint LoaderCore::StallDeadline(size_t missing) const {
    return input_.ReadyAt(input_.Size() - 1) + kStallIdle +
           byteTime_ * static_cast<int64_t>(missing);
}

bool LoaderCore::PendingHoldsValidFrame() const {
    RequestParser parser;
    for (size_t i = 0; i < input_.Size(); ++i) {
        if (auto frame = parser.Feed(input_.At(i)); frame && frame->valid) {
            return true;
        }
    }
    return false;
}

void LoaderCore::HandleFrame(const ParsedFrame& frame) {
    fillToSkip_ = frame.fill;
    if (!frame.valid) {
        ++stats_.badFrames;  // a real loader cannot tell what was meant: no answer
        return;
    }
    const auto index = static_cast<uint32_t>(requests_.size());
    if (faults_.silentFromRequest && index >= *faults_.silentFromRequest) {
        stats_.silent = true;
        return;
    }
    requests_.push_back({frame.request[0], frame.request});
    HandleRequest(frame.request, index);
}

void LoaderCore::HandleRequest(const std::vector<uint8_t>& request, uint32_t index) {
    const AnswerFault* fault = TakeFault(FaultTarget::Request, index);
    if (fault && !CarriedOut(fault->kind)) {
        QueueAnswer(*FaultAnswer(*fault, {}));
        return;
    }
    bool erase = false;
    const std::vector<uint8_t> answer = CarryOut(request, erase);
    std::optional<std::vector<uint8_t>> sent = fault ? FaultAnswer(*fault, answer) : answer;
    if (erase && (faults_.slowEraseMs > 0 || faults_.xoffDuringErase)) {
        if (faults_.xoffDuringErase) {
            QueueRaw(kXoff);
        }
        erase_ = PendingErase{now_ + std::chrono::milliseconds(faults_.slowEraseMs),
                              std::move(sent), faults_.xoffDuringErase};
        return;
    }
    if (sent) {
        QueueAnswer(*sent);
    }
}

std::vector<uint8_t> LoaderCore::CarryOut(const std::vector<uint8_t>& request, bool& erase) {
    switch (request[0]) {
        case kReqDlStart:
            return request.size() == 1 ? RequestAck() : InvalidCommand();
        case kReqJump:
            if (request.size() != 1) {
                return InvalidCommand();
            }
            ++stats_.jumps;
            stats_.finalJump = sequence_ && sequence_->complete;
            return RequestAck();
        case kReqFlashErase:
        case kReqFlashErase2:
            break;
        default:
            return InvalidCommand();
    }
    if (request.size() != kEraseRequestLength) {
        return InvalidCommand();
    }
    const uint32_t first = ReadU32(request, 1);
    const uint32_t length = ReadU32(request, 5);
    if (request[0] == kReqFlashErase) {
        memory_.flash.Erase(first, length);
        StartSequence(0, first, length);
    } else {
        if (first < 1 || first > static_cast<uint32_t>(kAreaCount)) {
            return InvalidCommand();
        }
        memory_.areas[first - 1].Erase(0, length);
        StartSequence(static_cast<int>(first), 0, length);
    }
    erase = true;
    return RequestAck();
}

void LoaderCore::StartSequence(int area, uint32_t base, uint32_t length) {
    stats_.finalJump = false;
    const uint32_t count = length / kBlockSize;
    if (count == 0) {
        sequence_.reset();
        BackToRequests();
        return;
    }
    sequence_ = Sequence{area, base, count, 0, 0, std::nullopt, false};
    mode_ = Mode::Blocks;
}

void LoaderCore::HandleBlock(const std::vector<uint8_t>& block) {
    Sequence& sequence = *sequence_;
    if (IsRetryPacket(block)) {
        ++stats_.retryPackets;
        sequence.forcedPlace = sequence.lastPlace;
        QueueAnswer({0x03, 0x03, 0x03});
        return;
    }
    const uint32_t place = sequence.forcedPlace.value_or(sequence.nextPlace);
    if (faults_.silentFromBlock && place >= *faults_.silentFromBlock) {
        stats_.silent = true;
        return;
    }
    if (faults_.unplugAtBlock && place >= *faults_.unplugAtBlock) {
        stats_.unplugged = true;
        return;
    }
    ++stats_.blocksReceived;
    sequence.lastPlace = place;
    const AnswerFault* fault = TakeFault(FaultTarget::Block, place);
    if (fault && !CarriedOut(fault->kind)) {
        sequence.forcedPlace = place;  // not taken: the next block goes to the same place
        QueueAnswer(*FaultAnswer(*fault, {}));
        return;
    }
    const uint64_t offset = uint64_t{place} * kBlockSize;
    if (sequence.area == 0) {
        memory_.flash.Write(sequence.base + offset, block.data(), block.size());
    } else {
        memory_.areas[sequence.area - 1].Write(offset, block.data(), block.size());
    }
    sequence.forcedPlace.reset();
    sequence.nextPlace = place + 1;
    const uint16_t check = BlockCheckValue(block.data(), block.size());
    const std::vector<uint8_t> ack{kAck, static_cast<uint8_t>(check >> 8),
                                   static_cast<uint8_t>(check & 0xFF)};
    if (auto sent = fault ? FaultAnswer(*fault, ack) : ack) {
        QueueAnswer(*sent);
        if (faults_.xoffHold && faults_.xoffHold->place == place && !xoffHoldFired_) {
            HoldWithXoff(std::chrono::milliseconds(faults_.xoffHold->ms));
        }
    }
    if (sequence.nextPlace >= sequence.count) {
        if (!sequence.complete) {
            sequence.complete = true;
            ++stats_.completedSequences;
        }
        BackToRequests();
    }
}

void LoaderCore::HandleStalledPartial() {
    if (PendingHoldsValidFrame()) {
        // Not a block but a request, most likely sent again because its answer was lost.
        BackToRequests();
        return;
    }
    ++stats_.discardedPartials;
    DropInput();
    if (!sequence_->forcedPlace && sequence_->nextPlace >= sequence_->count) {
        BackToRequests();
    }
}

void LoaderCore::FinishErase() {
    const PendingErase erase = std::move(*erase_);
    erase_.reset();
    if (erase.sendXon) {
        QueueRaw(kXon);
    }
    if (erase.answer) {
        QueueAnswer(*erase.answer);
    }
}

// The XON is queued at once, due `hold` from now: whatever the phone answers meanwhile
// follows it on the line.
void LoaderCore::HoldWithXoff(Nanos hold) {
    xoffHoldFired_ = true;
    ++stats_.xoffHolds;
    QueueRaw(kXoff);
    output_.Push({kXon}, now_ + hold);
}

const AnswerFault* LoaderCore::TakeFault(FaultTarget target, uint32_t index) {
    for (size_t i = 0; i < faults_.answerFaults.size(); ++i) {
        const AnswerFault& fault = faults_.answerFaults[i];
        if (fault.target == target && fault.index == index && (fault.always || !fired_[i])) {
            fired_[i] = true;
            return &fault;
        }
    }
    return nullptr;
}

void LoaderCore::QueueAnswer(const std::vector<uint8_t>& payload) {
    output_.Push(EncodeAnswer(payload, faults_.rawXonXoff), now_);
    ++stats_.answersSent;
}

void LoaderCore::QueueRaw(uint8_t byte) {
    output_.Push({byte}, now_);
}

void LoaderCore::Consume(size_t count) {
    stats_.bytesHandled += count;
    input_.Drop(count);
}

std::vector<uint8_t> LoaderCore::TakeInput(size_t count) {
    stats_.bytesHandled += count;
    return input_.Take(count);
}

void LoaderCore::DropInput() {
    Consume(input_.Size());
}

void LoaderCore::BackToRequests() {
    mode_ = Mode::Requests;
    parser_.Reset();
}

}  // namespace tarnflow::phonesim
