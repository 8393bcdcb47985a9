#include "phonesim/FlashFiles.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace tarnflow::phonesim {

namespace {

constexpr uint64_t kWriteChunk = uint64_t{1} << 20;

bool WriteSpan(const std::filesystem::path& path, const SparseFlash& flash, uint64_t address,
               uint64_t length, std::string& error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (uint64_t done = 0; out && done < length;) {
        const uint64_t chunk = std::min(kWriteChunk, length - done);
        const std::vector<uint8_t> bytes = flash.Read(address + done, chunk);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        done += chunk;
    }
    out.close();
    if (!out) {
        error = path.string() + ": cannot write";
        return false;
    }
    return true;
}

std::string FileName(const char* format, unsigned index, unsigned long value) {
    char name[64];
    std::snprintf(name, sizeof name, format, index, value);
    return name;
}

}  // namespace

bool WriteFlashFiles(const std::string& dir, unsigned index, const PhoneMemory& memory,
                     std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        error = dir + ": " + ec.message();
        return false;
    }
    const std::filesystem::path folder(dir);
    for (const SparseFlash::Range& range : memory.flash.WrittenRanges()) {
        const std::string name = FileName("phone%02u-flash-0x%08lX.bin", index, range.address);
        if (!WriteSpan(folder / name, memory.flash, range.address, range.length, error)) {
            return false;
        }
    }
    for (int area = 1; area <= kAreaCount; ++area) {
        const SparseFlash& flash = memory.areas[area - 1];
        const std::vector<SparseFlash::Range> ranges = flash.WrittenRanges();
        if (ranges.empty()) {
            continue;
        }
        const uint64_t end = ranges.back().address + ranges.back().length;
        const std::string name =
            FileName("phone%02u-area%lu.bin", index, static_cast<unsigned long>(area));
        if (!WriteSpan(folder / name, flash, 0, end, error)) {
            return false;
        }
    }
    return true;
}

}  // namespace tarnflow::phonesim
