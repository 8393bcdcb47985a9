#include "sampleimages/SampleImages.h"

#include <cstdio>
#include <filesystem>

namespace tarnflow::sample {

namespace {

constexpr uint8_t kRetrySignature[8] = {0x01, 0x12, 0x73, 0x80, 0x40, 0x67, 0x24, 0x01};
constexpr size_t kWindow = 0x20000;

void PutLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

}  // namespace

std::vector<uint8_t> ImageBytes(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed * 2654435761u + 0x9E3779B9u;
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<uint8_t>(state >> 24);
    }
    for (size_t block = 0; block + 8 <= size; block += 1024) {
        if (std::equal(kRetrySignature, kRetrySignature + 8, bytes.begin() + block)) {
            bytes[block] ^= 0xFF;
        }
    }
    return bytes;
}

std::vector<uint8_t> PhoneCodeImage(size_t size, uint32_t startAddress, uint32_t seed,
                                    uint32_t version) {
    std::vector<uint8_t> bytes = ImageBytes(size, seed);
    bytes[size - 37] = 0xFF;
    bytes[size - 36] = 0x1D;
    bytes[size - 35] = 0x00;
    PutLe32(bytes, size - 20, version);
    PutLe32(bytes, size - 16, startAddress);
    return bytes;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

bool WriteSampleSet(const std::string& folder, size_t codeSize, SampleSet& paths) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const size_t size = std::max<size_t>((codeSize + kWindow - 1) / kWindow, 1) * kWindow;
    const auto code = PhoneCodeImage(size, 0x8000, 1);
    // The old image differs in windows 1 and 3 (window 0 of a one-window image): runs for
    // compare mode.
    auto old = code;
    for (size_t window = size > kWindow ? 1 : 0; window * kWindow < size; window += 2) {
        old[window * kWindow + 100] ^= 0x5A;
    }
    paths.code = folder + "/phone-code.bin";
    paths.codeOld = folder + "/phone-code-old.bin";
    paths.font = folder + "/phone-font.bin";
    paths.vpxBoot = folder + "/vpx-boot.bin";
    paths.vpxCode = folder + "/vpx-code.bin";
    paths.vpxFont = folder + "/vpx-font.bin";
    paths.vpxContents = folder + "/vpx-contents.rbin";
    paths.vpxLfs = folder + "/vpx-lfs.lfs";
    paths.vpxFactoryFs = folder + "/vpx-factoryfs.ffs";
    return WriteFile(paths.code, code) && WriteFile(paths.codeOld, old) &&
           WriteFile(paths.font, ImageBytes(16 * 1024, 2)) &&
           WriteFile(paths.vpxBoot, ImageBytes(8 * 1024, 3)) &&
           WriteFile(paths.vpxCode, ImageBytes(24 * 1024, 4)) &&
           WriteFile(paths.vpxFont, ImageBytes(8 * 1024, 5)) &&
           // Not whole blocks: the loader pads them with 0xFF.
           WriteFile(paths.vpxContents, ImageBytes(10 * 1024 + 300, 6)) &&
           WriteFile(paths.vpxLfs, ImageBytes(12 * 1024, 7)) &&
           WriteFile(paths.vpxFactoryFs, ImageBytes(6 * 1024 + 1, 8));
}

}  // namespace tarnflow::sample
