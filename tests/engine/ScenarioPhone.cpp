#include "ScenarioPhone.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "comm/Checksums.h"
#include "engine/DloadFile.h"

namespace tarnflow::testing {

namespace {

constexpr uint8_t kXoff = 0x13;
constexpr size_t kEraseRequestLength = 9;

uint32_t ReadLe32(const Bytes& bytes, size_t at) {
    return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
           uint32_t{bytes[at + 3]} << 24;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

}  // namespace

ScenarioPhone::ScenarioPhone(std::string devicePath) : devicePath_(std::move(devicePath)) {
    linked_ = pty_.Valid() && ::symlink(pty_.SlavePath().c_str(), devicePath_.c_str()) == 0;
}

ScenarioPhone::~ScenarioPhone() {
    if (linked_) {
        ::unlink(devicePath_.c_str());
    }
}

std::string ScenarioPhone::Error() const {
    if (!pty_.Valid()) {
        return pty_.Error();
    }
    return linked_ ? std::string() : "cannot link " + devicePath_ + " to " + pty_.SlavePath();
}

std::vector<WireItem> ScenarioPhone::DrainItems() {
    std::vector<WireItem> items;
    if (!present_) {
        return items;
    }
    // A pseudo-terminal hands the master what the slave wrote before write() returned, so a
    // read that does not wait sees everything the engine sent up to now.
    const Bytes got = pty_.ReadMaster(1 << 16, std::chrono::milliseconds(0));
    pending_.insert(pending_.end(), got.begin(), got.end());
    while (auto item = TakeWireItem(pending_)) {
        items.push_back(std::move(*item));
    }
    return items;
}

ScenarioPhone::Answer ScenarioPhone::Take(const WireItem& item, bool carryOut) {
    switch (item.kind) {
        case WireItem::Kind::Request:
            return TakeRequest(item, carryOut);
        case WireItem::Kind::Block:
            return TakeBlock(item, carryOut);
        case WireItem::Kind::Retry:
            if (!sequence_) {
                return {std::nullopt, "Retry Packet outside an erase"};
            }
            if (carryOut) {
                sequence_->forced = sequence_->last;
            }
            return {Bytes{RETRY_ACK, 0x03, 0x03},
                    "Retry Packet (next block to place " + std::to_string(sequence_->last) + ")"};
        case WireItem::Kind::Nothing:
            break;
    }
    return {std::nullopt, "nothing"};
}

ScenarioPhone::Answer ScenarioPhone::TakeRequest(const WireItem& item, bool carryOut) {
    if (!item.fcsOk || item.bytes.empty()) {
        return {std::nullopt, "request with a bad FCS"};
    }
    const Bytes& request = item.bytes;
    switch (request[0]) {
        case REQ_DL_START:
            if (request.size() == 1) {
                return {kAck, "REQ_DL_START"};
            }
            break;
        case REQ_JUMP:
            if (request.size() == 1) {
                if (carryOut) {
                    jumpedAfterFlash_ =
                        sequence_ && !sequence_->forced && sequence_->next >= sequence_->count;
                }
                return {kAck, "REQ_JUMP"};
            }
            break;
        case REQ_FLASH_ERASE:
            if (request.size() == kEraseRequestLength) {
                const uint32_t start = ReadLe32(request, 1);
                const uint32_t length = ReadLe32(request, 5);
                if (carryOut) {
                    Erase(start, length);
                }
                return {kAck, "REQ_FLASH_ERASE " + Hex(start) + " " + Hex(length)};
            }
            break;
        default:
            break;
    }
    char text[32];
    std::snprintf(text, sizeof text, "unknown request %02X", request[0]);
    return {Bytes{NAK_INVALID_CMD, 0x9E, 0x4C}, text};
}

ScenarioPhone::Answer ScenarioPhone::TakeBlock(const WireItem& item, bool carryOut) {
    if (!sequence_ || (!sequence_->forced && sequence_->next >= sequence_->count)) {
        return {std::nullopt, "block with no place"};
    }
    Sequence& sequence = *sequence_;
    const uint32_t place = sequence.forced.value_or(sequence.next);
    sequence.last = place;
    const uint32_t address = sequence.base + place * kBlockSize;
    const std::string what = "block to place " + std::to_string(place) + " (" + Hex(address) + ")";
    if (!carryOut) {
        sequence.forced = place;
        return {ScriptedPhone::AckFor(item.bytes), what};
    }
    flash_[address] = item.bytes;
    sequence.forced.reset();
    sequence.next = place + 1;
    return {ScriptedPhone::AckFor(item.bytes), what};
}

void ScenarioPhone::Erase(uint32_t start, uint32_t length) {
    const uint64_t end = uint64_t{start} + length;
    for (auto it = flash_.lower_bound(start); it != flash_.end() && it->first < end;) {
        it = flash_.erase(it);
    }
    jumpedAfterFlash_ = false;
    const uint32_t count = length / kBlockSize;
    if (count == 0) {
        sequence_.reset();
        return;
    }
    sequence_ = Sequence{start, count, 0, 0, std::nullopt};
}

bool ScenarioPhone::SendAnswer(const Bytes& payload, bool xoffFirst) {
    Bytes bytes;
    if (xoffFirst) {
        bytes.push_back(kXoff);
    }
    const Bytes frame = ScriptedPhone::Frame(payload);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    return present_ && pty_.WriteMaster(bytes);
}

bool ScenarioPhone::SendRaw(uint8_t byte) {
    return present_ && pty_.WriteMaster(&byte, 1);
}

void ScenarioPhone::Unplug() {
    present_ = false;
    if (linked_) {
        ::unlink(devicePath_.c_str());
        linked_ = false;
    }
    pty_.CloseMaster();
    pending_.clear();
}

const Bytes* ScenarioPhone::FlashBlock(uint32_t address) const {
    const auto it = flash_.find(address);
    return it == flash_.end() ? nullptr : &it->second;
}

}  // namespace tarnflow::testing
