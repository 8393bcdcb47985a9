#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tarnflow::phonesim {

struct ParsedFrame {
    bool valid = false;            // unescaped cleanly, at least code + FCS, FCS right
    std::vector<uint8_t> request;  // the request bytes without the FCS (when valid)
    size_t fill = 0;               // zero fill the sender puts after a frame of this length
};

// Takes framed requests out of the byte stream one byte at a time. A frame opens with 0x7E or
// 0x7F and ends with 0x7E; a raw 0x7F inside a frame opens a new one (senders escape it). The
// end flag may also open the next frame, so a request that follows garbage is still found.
// Bytes outside frames are skipped; a frame longer than any request is dropped.
class RequestParser {
  public:
    static constexpr size_t kMaxFrameContent = 64;

    // Returns the frame this byte ended, if it ended one.
    std::optional<ParsedFrame> Feed(uint8_t byte);
    void Reset();
    // No frame content is held: the next byte starts afresh.
    bool AtBoundary() const { return content_.empty(); }

  private:
    ParsedFrame Decode() const;

    bool inFrame_ = false;
    std::vector<uint8_t> content_;  // as on the wire, escapes included
};

}  // namespace tarnflow::phonesim
