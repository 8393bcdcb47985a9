#include "engine/DloadFile.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "comm/Checksums.h"
#include "support/FakeOwner.h"

namespace tarnflow {
namespace {

using Bytes = std::vector<uint8_t>;
using Marker = std::array<uint8_t, 3>;
using testing::FakeOwner;

constexpr Marker kGoodMarker = {0xFF, 0x1D, 0x00};
const std::string kDamaged = "This is a damaged file,replace this file with a good one";
const std::string kBadVersion = "FILE의 s/w 버젼이 올바르지 않습니다.";

std::string Question(const std::string& hex) {
    return "Application 다운로딩 시작 주소가 0x" + hex +
           " 입니다.\n다운로딩이 실패할 수 있습니다.\n계속 다운로딩 하시겠습니가?";
}

std::string ReadFail(const std::string& path) {
    return " Fail to read from " + path + "\n Please Check bin_file !";
}

// `count` blocks that differ from each other and none of which begins with the Retry
// signature.
Bytes Blocks(size_t count) {
    Bytes image(count * kBlockSize);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>((i * 13 + i / kBlockSize * 7 + 0x20) & 0xFF);
    }
    for (size_t b = 0; b < count; ++b) {
        image[b * kBlockSize] = static_cast<uint8_t>(0x80 | (b & 0x7F));
        image[b * kBlockSize + 1] = static_cast<uint8_t>(b >> 7);
    }
    return image;
}

void PutLe32(Bytes& image, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        image[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// A Phone Code image of `length` bytes (at least 37) with the given trailer.
Bytes PhoneCode(size_t length, Marker marker, uint32_t version, uint32_t start) {
    Bytes image = Blocks((length + kBlockSize - 1) / kBlockSize);
    image.resize(length);
    std::memcpy(image.data() + length - 37, marker.data(), marker.size());
    PutLe32(image, length - 20, version);
    PutLe32(image, length - 16, start);
    return image;
}

struct Box {
    std::string text;
    MessageBoxStyle style;
};

void ExpectBoxes(const FakeOwner& owner, const std::vector<Box>& expected) {
    const auto boxes = owner.Boxes();
    ASSERT_EQ(boxes.size(), expected.size());
    for (size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_EQ(boxes[i].text, expected[i].text) << "box " << i;
        EXPECT_EQ(static_cast<int>(boxes[i].style), static_cast<int>(expected[i].style))
            << "box " << i;
    }
}

void ExpectEmpty(const CDloadFile& file) {
    EXPECT_EQ(file.Data(), nullptr);
    EXPECT_EQ(file.GetSize(), 0u);
    EXPECT_EQ(file.GetBlockCrcCount(), 0u);
    BlockRecord record;
    EXPECT_FALSE(file.GetBlock(0, 0, record));
}

class DloadFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/dloadfile-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string WriteFile(const std::string& name, const Bytes& bytes) {
        const std::string path = dir + "/" + name;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        EXPECT_TRUE(out.good());
        return path;
    }

    std::string dir;
    FakeOwner owner;
    CDloadFile file{&owner};
};

TEST_F(DloadFileTest, VpxFileIsPaddedToWholeBlocksWithFF) {
    const Bytes content = Blocks(2);
    const Bytes head(content.begin(), content.begin() + 1500);
    ASSERT_TRUE(file.Load(WriteFile("contents.bin", head), KIND_VPX_CONTENTS));

    ASSERT_EQ(file.GetSize(), 2048u);
    EXPECT_EQ(0, std::memcmp(file.Data(), head.data(), head.size()));
    for (size_t i = 1500; i < 2048; ++i) {
        ASSERT_EQ(file.Data()[i], 0xFF) << "offset " << i;
    }
    ASSERT_EQ(file.GetBlockCrcCount(), 2u);
    for (uint32_t b = 0; b < 2; ++b) {
        EXPECT_EQ(file.GetBlockCrc(0, b),
                  BlockCheckValue(file.Data() + b * kBlockSize, kBlockSize));
        BlockRecord record;
        ASSERT_TRUE(file.GetBlock(0, b, record));
        EXPECT_EQ(record.address, b * kBlockSize);
        EXPECT_EQ(record.length, kBlockSize);
        EXPECT_EQ(record.data, file.Data() + b * kBlockSize);
    }
    BlockRecord beyond;
    EXPECT_FALSE(file.GetBlock(0, 2, beyond));
    EXPECT_EQ(beyond.address, 2048u);
    EXPECT_EQ(beyond.data, nullptr);
    EXPECT_EQ(beyond.length, 0u);
    ExpectBoxes(owner, {});
}

TEST_F(DloadFileTest, PhoneCodeTrailer) {
    const Marker badMarker = {0xFF, 0x1D, 0x01};
    struct Case {
        const char* name;
        Marker marker;
        uint32_t version;
        uint32_t start;
        int answer;  // 0: no answer scripted
        bool loads;
        uint32_t startAfter;
        std::vector<Box> boxes;
    };
    const Case cases[] = {
        {"good", kGoodMarker, 1, 0x10000, 0, true, 0x10000, {}},
        {"start 0 is valid", kGoodMarker, 1, 0, 0, true, 0, {}},
        {"wrong marker", badMarker, 1, 0x10000, 0, false, 0, {{kDamaged, MessageBoxStyle::Ok}}},
        {"wrong marker before bad version",
         badMarker,
         0xFFFFFFFF,
         0x2000,
         0,
         false,
         0,
         {{kDamaged, MessageBoxStyle::Ok}}},
        {"bad version",
         kGoodMarker,
         0xFFFFFFFF,
         0x2000,
         0,
         false,
         0,
         {{kBadVersion, MessageBoxStyle::Ok}}},
        {"below 0x4000, Yes",
         kGoodMarker,
         1,
         0x2000,
         IDYES,
         true,
         0x2000,
         {{Question("2000"), MessageBoxStyle::YesNoExclamationModal}}},
        {"below 0x4000, No",
         kGoodMarker,
         1,
         0x2000,
         IDNO,
         false,
         0,
         {{Question("2000"), MessageBoxStyle::YesNoExclamationModal}}},
        {"not 4 KiB aligned, Yes",
         kGoodMarker,
         1,
         0x10800,
         IDYES,
         true,
         0x10800,
         {{Question("10800"), MessageBoxStyle::YesNoExclamationModal}}},
        {"not 4 KiB aligned, No",
         kGoodMarker,
         1,
         0x10800,
         IDNO,
         false,
         0,
         {{Question("10800"), MessageBoxStyle::YesNoExclamationModal}}},
        {"upper-case hex",
         kGoodMarker,
         1,
         0xABCDE,
         IDYES,
         true,
         0xABCDE,
         {{Question("ABCDE"), MessageBoxStyle::YesNoExclamationModal}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeOwner caseOwner;
        CDloadFile code(&caseOwner);
        if (c.answer != 0) {
            caseOwner.AnswerNext(c.answer);
        }
        const std::string path =
            WriteFile("code.bin", PhoneCode(2 * kBlockSize, c.marker, c.version, c.start));
        EXPECT_EQ(code.Load(path, KIND_CODE_NEW), c.loads);
        ExpectBoxes(caseOwner, c.boxes);
        EXPECT_EQ(code.GetStartAddress(), c.startAfter);
        if (c.loads) {
            EXPECT_EQ(code.GetSize(), 2048u);
            EXPECT_EQ(code.GetBlockCrcCount(), 2u);
        } else {
            ExpectEmpty(code);
        }
    }
}

TEST_F(DloadFileTest, StartAddressRule) {
    const std::pair<uint32_t, bool> cases[] = {
        {0, true},       {0x1000, false},  {0x3000, false},     {0x4000, true},
        {0x10000, true}, {0x10800, false}, {0xFFFFF000u, true}, {0xFFFFFFFFu, false},
    };
    for (const auto& [address, valid] : cases) {
        EXPECT_EQ(CDloadFile::IsValidStartAddress(address), valid) << std::hex << address;
    }
}

TEST_F(DloadFileTest, OtherKindsAreNeverTestedForATrailer) {
    // All 0xFF: wrong marker, invalid version and start address if a trailer were read.
    const std::string whole = WriteFile("ff.bin", Bytes(2048, 0xFF));
    const std::string tiny = WriteFile("tiny.bin", Bytes(20, 0xFF));
    for (int kind = KIND_CODE_OLD; kind < kImageKindCount; ++kind) {
        SCOPED_TRACE(kind);
        EXPECT_TRUE(file.Load(whole, static_cast<ImageKind>(kind)));
        EXPECT_EQ(file.GetSize(), 2048u);
        EXPECT_TRUE(file.Load(tiny, static_cast<ImageKind>(kind)));
        EXPECT_EQ(file.GetSize(), kind == KIND_CODE_OLD ? 20u : 1024u);
    }
    ExpectBoxes(owner, {});
    EXPECT_EQ(file.GetStartAddress(), 0u);
}

TEST_F(DloadFileTest, BlocksWithTheRetrySignatureAreWarnedAbout) {
    Bytes image = Blocks(5);
    for (size_t block : {1, 3, 4}) {
        std::memcpy(image.data() + block * kBlockSize, kRetrySignature.data(), 8);
    }
    // Only the start of a block counts.
    std::memcpy(image.data() + 100, kRetrySignature.data(), 8);
    EXPECT_TRUE(file.Load(WriteFile("code.bin", image), KIND_VPX_CODE));
    const char* const prefix = "This binary data is the same pattern as Retry Packet.";
    ExpectBoxes(owner, {{std::string(prefix) + "(1)", MessageBoxStyle::Ok},
                        {std::string(prefix) + "(3)", MessageBoxStyle::Ok},
                        {std::string(prefix) + "(4)", MessageBoxStyle::Ok}});
    EXPECT_EQ(file.GetSize(), 5u * kBlockSize);
    EXPECT_EQ(file.GetBlockCrcCount(), 5u);
}

TEST_F(DloadFileTest, BlockIndexIsRelativeToTheBase) {
    const Bytes image = Blocks(70);
    ASSERT_TRUE(file.Load(WriteFile("contents.bin", image), KIND_VPX_CONTENTS));
    ASSERT_EQ(file.GetBlockCrcCount(), 70u);

    const uint16_t entry67 = BlockCheckValue(image.data() + 67 * kBlockSize, kBlockSize);
    EXPECT_EQ(file.GetBlockCrc(0x10000, 3), entry67);
    EXPECT_EQ(file.GetBlockCrc(0, 67), entry67);
    EXPECT_NE(file.GetBlockCrc(0, 3), entry67);
    BlockRecord record;
    ASSERT_TRUE(file.GetBlock(0x10000, 3, record));
    EXPECT_EQ(record.address, 67u * kBlockSize);
    EXPECT_EQ(record.data, file.Data() + 67 * kBlockSize);

    // Past the table, also where the 32-bit sum would wrap around to block 0.
    ASSERT_NE(file.GetBlockCrc(0, 0), 0);
    EXPECT_EQ(file.GetBlockCrc(0, 70), 0);
    EXPECT_EQ(file.GetBlockCrc(0xFFFFFC00u, 0x400), 0);
    EXPECT_EQ(file.GetBlockCrc(0, 0xFFFFFFFFu), 0);
    EXPECT_FALSE(file.GetBlock(0x400, 0x003FFFFF, record));
    EXPECT_EQ(record.data, nullptr);
    EXPECT_FALSE(file.GetBlock(0xFFFFFFFFu, 0xFFFFFFFFu, record));
}

TEST_F(DloadFileTest, EmptyVpxFileLoadsWithoutBlocks) {
    EXPECT_TRUE(file.Load(WriteFile("empty.bin", {}), KIND_VPX_LFS));
    ExpectEmpty(file);
    ExpectBoxes(owner, {});
}

TEST_F(DloadFileTest, UnreadablePathIsReported) {
    for (const std::string& path : {dir + "/missing.bin", dir}) {
        SCOPED_TRACE(path);
        FakeOwner caseOwner;
        CDloadFile image(&caseOwner);
        EXPECT_FALSE(image.Load(path, KIND_VPX_BOOT));
        EXPECT_EQ(image.GetPath(), path);
        ExpectBoxes(caseOwner, {{ReadFail(path), MessageBoxStyle::Information}});
        ExpectEmpty(image);
    }
}

TEST_F(DloadFileTest, ImageBeyondThirtyTwoBitsIsRefused) {
    // Sparse files: refused from their length, before anything is allocated or read.
    const std::pair<uint64_t, ImageKind> cases[] = {
        {0x100000000ull, KIND_CODE_OLD},
        {0xFFFFFC01ull, KIND_FONT},  // fits, but not once padded to whole blocks
    };
    for (const auto& [length, kind] : cases) {
        SCOPED_TRACE(length);
        const std::string path = WriteFile("huge.bin", {});
        if (::truncate(path.c_str(), static_cast<off_t>(length)) != 0) {
            GTEST_SKIP() << "no sparse file of that length here";
        }
        FakeOwner caseOwner;
        CDloadFile image(&caseOwner);
        EXPECT_FALSE(image.Load(path, kind));
        ExpectBoxes(caseOwner, {{ReadFail(path), MessageBoxStyle::Information}});
        ExpectEmpty(image);
    }
}

TEST_F(DloadFileTest, PhoneCodeTooShortForATrailerIsDamaged) {
    for (size_t length : {0, 10, 36}) {
        SCOPED_TRACE(length);
        FakeOwner caseOwner;
        CDloadFile code(&caseOwner);
        EXPECT_FALSE(code.Load(WriteFile("short.bin", Bytes(length, 0x00)), KIND_CODE_NEW));
        ExpectBoxes(caseOwner, {{kDamaged, MessageBoxStyle::Ok}});
        ExpectEmpty(code);
    }
    // 37 bytes are just enough.
    EXPECT_TRUE(
        file.Load(WriteFile("37.bin", PhoneCode(37, kGoodMarker, 1, 0x4000)), KIND_CODE_NEW));
    EXPECT_EQ(file.GetSize(), 37u);
    EXPECT_EQ(file.GetStartAddress(), 0x4000u);
    EXPECT_EQ(file.GetBlockCrcCount(), 0u);
    ExpectBoxes(owner, {});
}

TEST_F(DloadFileTest, PartialLastBlockOfPhoneCodeIsNeverHandedOut) {
    const uint32_t length = 3 * kBlockSize + 100;
    ASSERT_TRUE(file.Load(WriteFile("code.bin", PhoneCode(length, kGoodMarker, 1, 0x10000)),
                          KIND_CODE_NEW));
    EXPECT_EQ(file.GetSize(), length);
    EXPECT_EQ(file.GetBlockCrcCount(), 3u);
    EXPECT_EQ(file.GetBlockCrc(0, 3), 0);

    BlockRecord record;
    EXPECT_TRUE(file.GetBlock(0, 2, record));
    EXPECT_FALSE(file.GetBlock(0, 3, record));  // starts inside the image, ends past it
    EXPECT_EQ(record.address, 3u * kBlockSize);
    EXPECT_TRUE(file.GetBlock(100, 2, record));  // ends exactly at the end
    EXPECT_EQ(record.data + record.length, file.Data() + length);
    EXPECT_FALSE(file.GetBlock(101, 2, record));
}

TEST_F(DloadFileTest, RetryPacketIsSharedAndFixed) {
    const BlockRecord& packet = CDloadFile::GetRetryPacket();
    EXPECT_EQ(packet.length, 1024u);
    EXPECT_EQ(packet.address, 0u);
    ASSERT_NE(packet.data, nullptr);
    const uint8_t signature[] = {0x01, 0x12, 0x73, 0x80, 0x40, 0x67, 0x24, 0x01};
    EXPECT_EQ(0, std::memcmp(packet.data, signature, 8));
    for (size_t i = 8; i < 1024; ++i) {
        ASSERT_EQ(packet.data[i], 0) << "offset " << i;
    }
    CDloadFile other;
    EXPECT_EQ(&other.GetRetryPacket(), &file.GetRetryPacket());
}

TEST_F(DloadFileTest, LoadReplacesTheImageAndFailureLeavesNone) {
    ASSERT_TRUE(
        file.Load(WriteFile("code.bin", PhoneCode(2048, kGoodMarker, 1, 0x10000)), KIND_CODE_NEW));
    const Bytes font = Blocks(1);
    ASSERT_TRUE(file.Load(WriteFile("font.bin", font), KIND_FONT));
    EXPECT_EQ(file.GetSize(), 1024u);
    EXPECT_EQ(file.GetBlockCrcCount(), 1u);
    EXPECT_EQ(file.GetBlockCrc(0, 0), BlockCheckValue(font.data(), font.size()));
    EXPECT_EQ(file.GetStartAddress(), 0x10000u);  // kept until the next accepted Phone Code

    EXPECT_FALSE(file.Load(dir + "/missing.bin", KIND_FONT));
    ExpectEmpty(file);
}

TEST_F(DloadFileTest, WithoutHostAQuestionCountsAsNo) {
    CDloadFile alone;
    EXPECT_FALSE(
        alone.Load(WriteFile("code.bin", PhoneCode(2048, kGoodMarker, 1, 0x2000)), KIND_CODE_NEW));
    ExpectEmpty(alone);
}

}  // namespace
}  // namespace tarnflow
