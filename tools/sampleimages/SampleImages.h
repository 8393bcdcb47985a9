#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnflow::sample {

// Deterministic image contents for demos, tests and benchmarks. No block begins with the Retry
// Packet's signature.
std::vector<uint8_t> ImageBytes(size_t size, uint32_t seed);

// A Phone Code image of `size` bytes (a multiple of 1024, at least 1024) with a valid trailer:
// tail marker FF 1D 00 at size-37, software version `version` at size-20, start address at
// size-16.
std::vector<uint8_t> PhoneCodeImage(size_t size, uint32_t startAddress, uint32_t seed,
                                    uint32_t version = 1);

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

struct SampleSet {
    std::string code, codeOld, font, vpxBoot, vpxCode, vpxFont, vpxContents, vpxLfs, vpxFactoryFs;
};

// Writes a Phone Code image (and an OLD one that differs in two of its 128 KiB windows), a
// Phone Font image and the six VPX images into `folder`. `codeSize` is rounded up to whole
// 128 KiB windows.
bool WriteSampleSet(const std::string& folder, size_t codeSize, SampleSet& paths);

}  // namespace tarnflow::sample
