#include "phonesim/SparseFlash.h"

#include <algorithm>
#include <cstring>

namespace tarnflow::phonesim {

void SparseFlash::Write(uint64_t address, const uint8_t* bytes, size_t count) {
    const uint64_t end = std::min(address + count, kSpaceEnd);
    for (uint64_t at = address; at < end;) {
        const auto pageNumber = static_cast<uint32_t>(at / kPageSize);
        const uint64_t pageStart = uint64_t{pageNumber} * kPageSize;
        const uint64_t chunk = std::min(end, pageStart + kPageSize) - at;
        auto [page, created] = pages_.try_emplace(pageNumber);
        if (created) {
            page->second.fill(0xFF);
        }
        std::memcpy(page->second.data() + (at - pageStart), bytes + (at - address), chunk);
        at += chunk;
    }
}

void SparseFlash::Erase(uint64_t address, uint64_t length) {
    const uint64_t start = std::min(address, kSpaceEnd);
    const uint64_t end = std::min(address + length, kSpaceEnd);
    auto page = pages_.lower_bound(static_cast<uint32_t>(start / kPageSize));
    while (page != pages_.end()) {
        const uint64_t pageStart = uint64_t{page->first} * kPageSize;
        if (pageStart >= end) {
            break;
        }
        const uint64_t from = std::max(start, pageStart);
        const uint64_t to = std::min(end, pageStart + kPageSize);
        if (from >= to) {
            ++page;
            continue;
        }
        if (from == pageStart && to == pageStart + kPageSize) {
            page = pages_.erase(page);
            continue;
        }
        std::fill(page->second.begin() + static_cast<ptrdiff_t>(from - pageStart),
                  page->second.begin() + static_cast<ptrdiff_t>(to - pageStart), 0xFF);
        ++page;
    }
}

std::vector<uint8_t> SparseFlash::Read(uint64_t address, size_t length) const {
    std::vector<uint8_t> out(length, 0xFF);
    const uint64_t end = std::min(address + length, kSpaceEnd);
    if (address >= end) {
        return out;
    }
    for (auto page = pages_.lower_bound(static_cast<uint32_t>(address / kPageSize));
         page != pages_.end(); ++page) {
        const uint64_t pageStart = uint64_t{page->first} * kPageSize;
        if (pageStart >= end) {
            break;
        }
        const uint64_t from = std::max(address, pageStart);
        const uint64_t to = std::min(end, pageStart + kPageSize);
        std::memcpy(out.data() + (from - address), page->second.data() + (from - pageStart),
                    to - from);
    }
    return out;
}

std::vector<SparseFlash::Range> SparseFlash::WrittenRanges() const {
    std::vector<Range> ranges;
    for (const auto& [number, page] : pages_) {
        const uint64_t pageStart = uint64_t{number} * kPageSize;
        if (!ranges.empty() && ranges.back().address + ranges.back().length == pageStart) {
            ranges.back().length += kPageSize;
        } else {
            ranges.push_back({number * kPageSize, kPageSize});
        }
    }
    return ranges;
}

}  // namespace tarnflow::phonesim
