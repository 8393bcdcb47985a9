#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace tarnflow::phonesim {

// What an answer fault applies to. Requests are counted from 0 in the order they arrive (frames
// with a good FCS only). A block is named by its place in its erase: place n is written at the
// erase start + n * 1024, so a block sent again after the Retry Packet has the same place.
enum class FaultTarget { Request, Block };

enum class AnswerFaultKind {
    Lose,              // no answer; the request or block is still carried out
    Damage,            // the answer's last byte altered (wrong check value, wrong 6A D3)
    NakResend,         // A1 00 00 in place of the answer; not carried out
    NakModelMismatch,  // A2 00 00 in place of the answer; carried out (the tool may go on)
    NakInvalidCmd,     // A3 9E 4C in place of the answer; not carried out
    NakFailed,         // A4 00 00 in place of the answer; not carried out
};

struct AnswerFault {
    AnswerFaultKind kind = AnswerFaultKind::Lose;
    FaultTarget target = FaultTarget::Request;
    uint32_t index = 0;
    bool always = false;   // every time the target comes, not only the first time
    bool damaged = false;  // a NAK whose last byte is altered (A3 9E 4D, A4 00 01)
};

// The line held with XOFF for a while, as a phone busy writing its flash may do: after the
// answer to the block at `place` a raw XOFF (0x13), and a raw XON (0x11) `ms` milliseconds
// later. Once only, however often the block at that place comes.
struct XoffHold {
    uint32_t place = 0;
    uint32_t ms = 0;
};

struct FaultSettings {
    std::optional<uint32_t> silentFromRequest;  // this request and everything after it ignored
    std::optional<uint32_t> silentFromBlock;    // the block at this place and everything after
    std::optional<uint32_t> unplugAtBlock;      // the phone disappears when this block arrives
    std::vector<AnswerFault> answerFaults;      // the first matching one applies
    uint32_t slowEraseMs = 0;                   // an erase's answer comes this much later
    bool rawXonXoff = false;                    // 0x11 and 0x13 sent unescaped in answers
    bool xoffDuringErase = false;               // raw XOFF when an erase starts, XON after it
    std::optional<XoffHold> xoffHold;           // XOFF after a block's answer, XON later
};

}  // namespace tarnflow::phonesim
