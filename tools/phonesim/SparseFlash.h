#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace tarnflow::phonesim {

// A 32-bit flash address space kept as 1 KiB pages that were written. Bytes never written, or
// erased, read as 0xFF. Bytes that would lie at or beyond 4 GiB are dropped.
class SparseFlash {
  public:
    static constexpr uint32_t kPageSize = 1024;
    static constexpr uint64_t kSpaceEnd = uint64_t{1} << 32;

    struct Range {
        uint32_t address = 0;
        uint64_t length = 0;
    };

    void Write(uint64_t address, const uint8_t* bytes, size_t count);
    void Erase(uint64_t address, uint64_t length);
    std::vector<uint8_t> Read(uint64_t address, size_t length) const;

    // Runs of adjacent written pages, in address order.
    std::vector<Range> WrittenRanges() const;
    bool Empty() const { return pages_.empty(); }

  private:
    using Page = std::array<uint8_t, kPageSize>;
    std::map<uint32_t, Page> pages_;  // by page number
};

// The phone's memory: its flash and the six VPX areas (numbered 1 to 6, stored from index 0).
inline constexpr int kAreaCount = 6;

struct PhoneMemory {
    SparseFlash flash;
    std::array<SparseFlash, kAreaCount> areas;
};

}  // namespace tarnflow::phonesim
