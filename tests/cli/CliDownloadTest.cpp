#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/DownloadRun.h"
#include "phonesim/Phone.h"
#include "sampleimages/SampleImages.h"

namespace tarnflow::cli {
namespace {

using Bytes = std::vector<uint8_t>;
using phonesim::Phone;
using phonesim::PhoneOptions;

constexpr uint8_t kDlStart = 0xA0;
constexpr uint8_t kJump = 0xC0;
constexpr uint8_t kErase = 0xEE;
constexpr uint8_t kErase2 = 0xEF;

// Simulated phones on pseudo-terminals and image files in a temporary folder; the command
// line's download runs in-process against them.
class CliDownload : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnflow-cli-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
    }
    void TearDown() override {
        phones_.clear();
        std::filesystem::remove_all(folder_);
    }

    void StartPhones(int count, const phonesim::FaultSettings& faults = {}) {
        for (int i = 0; i < count; ++i) {
            auto phone = std::make_unique<Phone>();
            PhoneOptions options;
            options.faults = faults;
            ASSERT_TRUE(phone->Start(options)) << phone->Error();
            phones_.push_back(std::move(phone));
        }
    }

    std::string WriteImage(const std::string& name, const Bytes& bytes) {
        const std::string path = folder_ + "/" + name;
        EXPECT_TRUE(sample::WriteFile(path, bytes));
        return path;
    }

    // Runs tarnflow-cli with `args` plus one --port per phone; returns the exit status and
    // keeps what it printed.
    int Run(std::vector<std::string> args) {
        for (const auto& phone : phones_) {
            args.push_back("--port");
            args.push_back(phone->SlavePath());
        }
        args.push_back("--no");
        const auto parsed = ParseOptions(args);
        EXPECT_TRUE(parsed.ok) << parsed.error;
        ::testing::internal::CaptureStdout();
        const int status = RunDownload(parsed.options);
        output_ = ::testing::internal::GetCapturedStdout();
        return status;
    }

    static std::vector<uint8_t> Codes(const Phone& phone) {
        std::vector<uint8_t> codes;
        for (const auto& request : phone.Requests()) {
            codes.push_back(request.code);
        }
        return codes;
    }

    size_t Count(const std::string& text) const {
        size_t n = 0;
        for (size_t at = output_.find(text); at != std::string::npos;
             at = output_.find(text, at + 1)) {
            ++n;
        }
        return n;
    }

    std::string folder_;
    std::vector<std::unique_ptr<Phone>> phones_;
    std::string output_;
};

class CliPhoneCount : public CliDownload, public ::testing::WithParamInterface<int> {};

TEST_P(CliPhoneCount, PhoneCodeFromItsStartAddress) {
    const int count = GetParam();
    StartPhones(count);
    const Bytes image = sample::PhoneCodeImage(0x18000, 0x10000, 11);
    ASSERT_EQ(Run({"--code", WriteImage("code.bin", image)}), 0) << output_;
    for (const auto& phone : phones_) {
        EXPECT_EQ(phone->ReadFlash(0x10000, 0x8000), Bytes(image.begin() + 0x10000, image.end()));
        // The boot area is left alone.
        EXPECT_EQ(phone->ReadFlash(0, 0x10000), Bytes(0x10000, 0xFF));
        const auto requests = phone->Requests();
        ASSERT_EQ(requests.size(), 4u);
        EXPECT_EQ(Codes(*phone), (Bytes{kDlStart, kJump, kErase, kJump}));
        // Erase 0x10000 / size - 0x10000.
        EXPECT_EQ(requests[2].bytes,
                  (Bytes{kErase, 0x00, 0x00, 0x01, 0x00, 0x00, 0x80, 0x00, 0x00}));
        EXPECT_TRUE(phone->Stats().finalJump);
    }
    EXPECT_EQ(Count(": Downloading Completed."), static_cast<size_t>(count));
}

INSTANTIATE_TEST_SUITE_P(Phones, CliPhoneCount, ::testing::Values(1, 3, 20));

TEST_F(CliDownload, PhoneCodeWithItsBootArea) {
    StartPhones(1);
    const Bytes image = sample::PhoneCodeImage(0x14000, 0x10000, 12);
    ASSERT_EQ(Run({"--code", WriteImage("code.bin", image), "--boot-change"}), 0) << output_;
    EXPECT_EQ(phones_[0]->ReadFlash(0, image.size()), image);
    EXPECT_NE(output_.find("Entry 1: Boot Processing...잠시만 기다리세요"), std::string::npos);
}

TEST_F(CliDownload, FontAtTheTypedAddress) {
    StartPhones(1);
    const Bytes image = sample::ImageBytes(5 * 1024 + 10, 13);
    ASSERT_EQ(Run({"--font", WriteImage("font.bin", image), "--font-address", "3A0000"}), 0)
        << output_;
    Bytes padded = image;
    padded.resize(6 * 1024, 0xFF);
    EXPECT_EQ(phones_[0]->ReadFlash(0x3A0000, padded.size()), padded);
}

TEST_F(CliDownload, VpxBootAndCodeAreTwoPhasesWithOneJump) {
    StartPhones(2);
    const Bytes boot = sample::ImageBytes(3 * 1024, 14);
    const Bytes code = sample::ImageBytes(4 * 1024, 15);
    ASSERT_EQ(
        Run({"--vpx-boot", WriteImage("b.bin", boot), "--vpx-code", WriteImage("c.bin", code)}), 0)
        << output_;
    for (const auto& phone : phones_) {
        EXPECT_EQ(phone->ReadArea(1, 0, boot.size()), boot);
        EXPECT_EQ(phone->ReadArea(2, 0, code.size()), code);
        EXPECT_EQ(Codes(*phone), (Bytes{kDlStart, kJump, kErase2, kDlStart, kErase2, kJump}));
        EXPECT_EQ(phone->Stats().jumps, 2u);
    }
    EXPECT_EQ(Count(": VPX Code Download"), 2u);
}

TEST_F(CliDownload, AllSixVpxImagesAndEachKindAlone) {
    const char* options[] = {"--vpx-boot",     "--vpx-code", "--vpx-font",
                             "--vpx-contents", "--vpx-lfs",  "--vpx-factoryfs"};
    const char* names[] = {"b.bin", "c.bin", "f.bin", "s.rbin", "l.lfs", "x.ffs"};
    std::vector<Bytes> images;
    std::vector<std::string> all;
    for (int area = 1; area <= 6; ++area) {
        images.push_back(sample::ImageBytes(1024 * area + (area % 2 ? 17 : 0), 20 + area));
        all.push_back(options[area - 1]);
        all.push_back(WriteImage(names[area - 1], images.back()));
    }
    auto padded = [&](int area) {
        Bytes bytes = images[area - 1];
        bytes.resize((bytes.size() + 1023) / 1024 * 1024, 0xFF);
        return bytes;
    };
    StartPhones(1);
    ASSERT_EQ(Run(all), 0) << output_;
    for (int area = 1; area <= 6; ++area) {
        EXPECT_EQ(phones_[0]->ReadArea(area, 0, padded(area).size()), padded(area)) << area;
    }
    EXPECT_EQ(phones_[0]->Stats().jumps, 2u);

    // Each kind alone reaches its own area and nothing else.
    for (int area = 1; area <= 6; ++area) {
        phones_.clear();
        StartPhones(1);
        ASSERT_EQ(Run({options[area - 1], all[2 * (area - 1) + 1]}), 0) << output_;
        for (int other = 1; other <= 6; ++other) {
            const Bytes expected = other == area ? padded(area) : Bytes(padded(other).size(), 0xFF);
            EXPECT_EQ(phones_[0]->ReadArea(other, 0, expected.size()), expected) << area;
        }
    }
}

struct CompareCase {
    int windows;
    std::vector<int> changed;
    std::vector<std::pair<int, int>> runs;  // start, count
};

void PrintTo(const CompareCase& c, std::ostream* out) {
    *out << c.windows << " windows, " << c.runs.size() << " runs";
}

class CliCompare : public CliDownload, public ::testing::WithParamInterface<CompareCase> {};

TEST_P(CliCompare, OnlyTheChangedWindowsAreWritten) {
    const CompareCase& c = GetParam();
    constexpr size_t kWindow = 0x20000;
    const Bytes next = sample::PhoneCodeImage(c.windows * kWindow, 0, 30);
    Bytes old = next;
    for (int window : c.changed) {
        old[window * kWindow + 5] ^= 0x01;
    }
    StartPhones(2);
    ASSERT_EQ(Run({"--type", "compare", "--code", WriteImage("new.bin", next), "--old",
                   WriteImage("old.bin", old)}),
              0)
        << output_;
    for (const auto& phone : phones_) {
        std::vector<Bytes> erases;
        for (const auto& request : phone->Requests()) {
            if (request.code == kErase) {
                erases.push_back(request.bytes);
            }
        }
        ASSERT_EQ(erases.size(), c.runs.size());
        for (size_t k = 0; k < c.runs.size(); ++k) {
            const uint32_t start = c.runs[k].first * kWindow;
            const uint32_t length = c.runs[k].second * kWindow;
            EXPECT_EQ(
                erases[k],
                (Bytes{kErase, static_cast<uint8_t>(start), static_cast<uint8_t>(start >> 8),
                       static_cast<uint8_t>(start >> 16), static_cast<uint8_t>(start >> 24),
                       static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                       static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24)}));
            EXPECT_EQ(phone->ReadFlash(start, length),
                      Bytes(next.begin() + start, next.begin() + start + length));
        }
        // Windows outside the runs are not touched.
        for (int window = 0; window < c.windows; ++window) {
            bool inRun = false;
            for (const auto& run : c.runs) {
                inRun |= window >= run.first && window < run.first + run.second;
            }
            if (!inRun) {
                EXPECT_EQ(phone->ReadFlash(window * kWindow, kWindow), Bytes(kWindow, 0xFF));
            }
        }
        EXPECT_TRUE(phone->Stats().finalJump);
    }
    for (size_t k = 1; k <= c.runs.size(); ++k) {
        EXPECT_EQ(Count("Complete Dload Block " + std::to_string(k)), 2u) << output_;
    }
    EXPECT_EQ(Count(": Downloading Completed."), 2u);
}

INSTANTIATE_TEST_SUITE_P(Runs, CliCompare,
                         ::testing::Values(CompareCase{4, {1, 2}, {{1, 2}}},
                                           CompareCase{6, {0, 2, 3, 5}, {{0, 1}, {2, 2}, {5, 1}}}));

TEST_F(CliDownload, ExitStatusForRefusalsAndFailures) {
    const Bytes image = sample::PhoneCodeImage(0x8000, 0, 40);
    const std::string path = WriteImage("code.bin", image);
    // Unreadable image: bad input, status 2, nothing sent.
    StartPhones(1);
    EXPECT_EQ(Run({"--code", folder_ + "/missing.bin"}), 2);
    EXPECT_TRUE(phones_[0]->Requests().empty());
    // A refused start address (answered No): the download is refused, status 1.
    const std::string odd = WriteImage("odd.bin", sample::PhoneCodeImage(0x8000, 0x2000, 41));
    EXPECT_EQ(Run({"--code", odd}), 1);
    EXPECT_TRUE(phones_[0]->Requests().empty());
    // A phone that refuses the erase as invalid fails; the other completes.
    phones_.clear();
    StartPhones(1);
    phonesim::FaultSettings refuse;
    refuse.answerFaults.push_back(
        {phonesim::AnswerFaultKind::NakInvalidCmd, phonesim::FaultTarget::Request, 2});
    StartPhones(1, refuse);
    EXPECT_EQ(Run({"--code", path, "--json", folder_ + "/report.json"}), 1);
    EXPECT_EQ(phones_[0]->ReadFlash(0, image.size()), image);
    EXPECT_NE(output_.find("Entry 2: Invalid command!!"), std::string::npos) << output_;
    std::ifstream report(folder_ + "/report.json");
    const auto json = nlohmann::json::parse(report);
    ASSERT_EQ(json["entries"].size(), 2u);
    EXPECT_EQ(json["entries"][0]["device"], phones_[0]->SlavePath());
    EXPECT_EQ(json["entries"][0]["outcome"], "completed");
    EXPECT_EQ(json["entries"][0]["bytesWritten"], 32768);
    EXPECT_EQ(json["entries"][1]["outcome"], "failed");
}

}  // namespace
}  // namespace tarnflow::cli
