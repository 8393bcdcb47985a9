#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "phonesim/Phone.h"
#include "support/WaitUntil.h"

namespace tarnflow::phonesim::testing {

using Bytes = std::vector<uint8_t>;

// Real-time safety net against hangs; never a measured time-out.
inline constexpr std::chrono::milliseconds kSafetyLimit{3000};

// The tool's side of a simulated phone: the pseudo-terminal slave in raw mode with XON/XOFF on
// (as the real port is set up), framed requests out, answers decoded by the link's own frame
// receiver in frame mode.
class ToolPort {
  public:
    explicit ToolPort(const std::string& path, bool flowControl = true);
    ~ToolPort();
    ToolPort(const ToolPort&) = delete;
    ToolPort& operator=(const ToolPort&) = delete;

    bool Valid() const { return fd_ >= 0; }
    uint64_t BytesSent() const { return sent_; }

    bool Send(const Bytes& bytes);
    bool SendRequest(const Bytes& request, bool frameMode = true);
    // The next answer frame: its first three bytes as the engine reads them, empty when the
    // frame decoder rejected it, nothing when no frame came within `limit`.
    std::optional<Bytes> ReadAnswer(std::chrono::milliseconds limit = kSafetyLimit);
    std::optional<Bytes> Exchange(const Bytes& request) {
        return SendRequest(request) ? ReadAnswer() : std::nullopt;
    }
    std::optional<Bytes> ExchangeBlock(const Bytes& block) {
        return Send(block) ? ReadAnswer() : std::nullopt;
    }
    // Bytes as they come off the line, up to `count`.
    Bytes ReadRaw(size_t count, std::chrono::milliseconds limit = kSafetyLimit);
    // Whether anything from the phone is waiting to be read right now.
    bool HasInput();
    // Waits for the line to hang up (the phone was pulled out).
    bool WaitHangUp(std::chrono::milliseconds limit = kSafetyLimit);

  private:
    bool Fill(std::chrono::steady_clock::time_point deadline);

    int fd_ = -1;
    uint64_t sent_ = 0;
    Bytes buffer_;
};

inline constexpr uint32_t kBlock = 1024;

// 1024 pseudo-random bytes; different seeds give different blocks.
Bytes MakeBlock(uint32_t seed);
// The first block from seed `from` on whose check value has `byte` as its high or low byte.
Bytes BlockWithCheckByte(uint8_t byte, uint32_t from = 1);
// The acknowledgement a correct phone gives for `block`: 02, check value high, low.
Bytes AckFor(const Bytes& block);
// REQ_FLASH_ERASE (EE) or REQ_FLASH_ERASE2 (EF) with its two little-endian values.
Bytes EraseRequest(uint8_t code, uint32_t first, uint32_t length);
Bytes RetryPacket();
Bytes Concat(const std::vector<Bytes>& parts);

inline const Bytes kRequestAck{0x02, 0x6A, 0xD3};
inline const Bytes kRetryAck{0x03, 0x03, 0x03};

using tarnflow::testing::WaitUntil;

// A phone with the tool's port open on it.
struct Bench {
    Phone phone;
    std::optional<ToolPort> tool;

    bool Start(const PhoneOptions& options = {}, bool flowControl = true) {
        if (!phone.Start(options)) {
            return false;
        }
        tool.emplace(phone.SlavePath(), flowControl);
        return tool->Valid();
    }
    // True once the phone has dealt with every byte the tool sent.
    bool WaitHandled() {
        return WaitUntil([&] { return phone.Stats().bytesHandled == tool->BytesSent(); });
    }
    Bytes Flash(uint32_t address, uint32_t blocks = 1) const {
        return phone.ReadFlash(address, size_t{blocks} * kBlock);
    }
};

}  // namespace tarnflow::phonesim::testing
