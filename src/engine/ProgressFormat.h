#pragma once

#include <cstdint>
#include <string>

namespace tarnflow {

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kNavy{0, 0, 128};
inline constexpr Rgb kDarkRed{128, 0, 0};
inline constexpr Rgb kGreen{0, 128, 0};
inline constexpr Rgb kYellow{255, 255, 0};
inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kBlue{0, 0, 255};

// What one entry's label and bar show for a display stage.
struct ProgressView {
    std::string label;      // "Entry 3 (COM7): 0x400 / 0x1000 (25%)"
    std::string stageText;  // "25%", "Error!", ...
    int position = 0;       // bar position, 0 to 100
    Rgb barColor = kNavy;
    bool buttonFaceBackground = false;  // the error stage also resets the bar's background
};

struct ProgressInput {
    int entry = 0;  // 0-based
    int comPort = 0;
    int stage = 0;
    uint32_t blockBase = 0;
    int blockIndex = 0;
    int blockCount = 0;
    uint32_t imageSize = 0;
};

// p = (blockIndex * 100 + blockCount / 2) / blockCount, rounded as MulDiv does; 0 for no blocks.
int ProgressPercent(int blockIndex, int blockCount);

ProgressView DescribeProgress(const ProgressInput& input);

// The stage the periodic refresh shows for a download step.
int StageForStep(int step);

// The colour a status text of this type is drawn in.
Rgb ColorForTextType(int type);

// "Entry %d (COM%d)" for an entry with a port, "Entry %d" otherwise.
std::string EntryLabel(int entry, int comPort);

}  // namespace tarnflow
