#include "comm/Checksums.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tarnflow {
namespace {

const uint8_t kDigits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};

TEST(Checksums, CheckValuesOverTheNineDigits) {
    EXPECT_EQ(Fcs16(kDigits, sizeof kDigits), 0x906E);
    EXPECT_EQ(BlockCheckValue(kDigits, sizeof kDigits), 0x6F91);
    EXPECT_EQ(Crc30(kDigits, sizeof kDigits), 0x04C34ABFu);
}

TEST(Checksums, Crc30OfThePacket02) {
    const uint8_t packet[] = {0x02};
    EXPECT_EQ(Crc30(packet, 1), 0x3FFEAC60u);
}

TEST(Checksums, FcsOfThePacket02IsTheAckTail) {
    // The phone's ACK to a request carries this FCS low byte first: 6A D3.
    const uint8_t packet[] = {0x02};
    EXPECT_EQ(Fcs16(packet, 1), 0xD36A);
}

TEST(Checksums, TablesFollowFromThePolynomials) {
    // Spot entries of the well-known reflected CRC-16 table and the CRC-30 recurrence.
    EXPECT_EQ(checksums::kFcsTable[0], 0x0000);
    EXPECT_EQ(checksums::kFcsTable[1], 0x1189);
    EXPECT_EQ(checksums::kFcsTable[128], 0x8408);
    EXPECT_EQ(checksums::kFcsTable[255], 0x0F78);
    EXPECT_EQ(checksums::kCrc30Table[0], 0u);
    EXPECT_EQ(checksums::kCrc30Table[1], 0x2030B9C7u);
    for (uint32_t value : checksums::kCrc30Table) {
        EXPECT_EQ(value & ~checksums::kCrc30Mask, 0u);
    }
}

TEST(Checksums, EmptyInput) {
    EXPECT_EQ(Fcs16(nullptr, 0), 0x0000);
    EXPECT_EQ(BlockCheckValue(nullptr, 0), 0xFFFF);
    EXPECT_EQ(Crc30(nullptr, 0), 0u);
}

}  // namespace
}  // namespace tarnflow
