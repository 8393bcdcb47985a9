#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tarnflow {

// The three checksums of the protocol. Tables follow from the polynomials at compile time.
namespace checksums {

// Reflected CRC-16 register of the frame check sequence: polynomial 0x1021 bit-reversed.
inline constexpr uint16_t kFcsPolynomial = 0x8408;
inline constexpr uint16_t kFcsInit = 0xFFFF;
// CRC-30/CDMA polynomial with its x^30 term.
inline constexpr uint32_t kCrc30Polynomial = 0x6030B9C7;
inline constexpr uint32_t kCrc30Mask = 0x3FFFFFFF;

constexpr std::array<uint16_t, 256> MakeFcsTable() {
    std::array<uint16_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint16_t value = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 1) ? static_cast<uint16_t>((value >> 1) ^ kFcsPolynomial)
                                : static_cast<uint16_t>(value >> 1);
        }
        table[i] = value;
    }
    return table;
}

constexpr std::array<uint32_t, 256> MakeCrc30Table() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t value = i << 22;
        for (int bit = 0; bit < 8; ++bit) {
            const bool top = (value & (1u << 29)) != 0;
            value <<= 1;
            if (top) {
                value ^= kCrc30Polynomial;
            }
        }
        table[i] = value & kCrc30Mask;
    }
    return table;
}

inline constexpr std::array<uint16_t, 256> kFcsTable = MakeFcsTable();
inline constexpr std::array<uint32_t, 256> kCrc30Table = MakeCrc30Table();

// The register over `bytes`, starting from `init`, before any final complement.
constexpr uint16_t Crc16Register(const uint8_t* bytes, size_t length, uint16_t init = kFcsInit) {
    uint16_t reg = init;
    for (size_t i = 0; i < length; ++i) {
        reg = static_cast<uint16_t>((reg >> 8) ^ kFcsTable[(reg ^ bytes[i]) & 0xFF]);
    }
    return reg;
}

}  // namespace checksums

// Frame check sequence as transmitted (CRC-16/X.25, complemented).
constexpr uint16_t Fcs16(const uint8_t* bytes, size_t length) {
    return static_cast<uint16_t>(checksums::Crc16Register(bytes, length) ^ 0xFFFF);
}

// The same register without the final complement (CRC-16/MCRF4XX): the value a phone returns
// for an image block.
constexpr uint16_t BlockCheckValue(const uint8_t* bytes, size_t length) {
    return checksums::Crc16Register(bytes, length);
}

// CRC-30/CDMA in the low 30 bits.
constexpr uint32_t Crc30(const uint8_t* bytes, size_t count) {
    uint32_t reg = checksums::kCrc30Mask;
    for (size_t i = 0; i < count; ++i) {
        reg = (reg << 8) ^ checksums::kCrc30Table[((reg >> 22) ^ bytes[i]) & 0xFF];
    }
    return ~reg & checksums::kCrc30Mask;
}

}  // namespace tarnflow
