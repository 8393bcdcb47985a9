#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>

#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/DownloadRun.h"
#include "phonesim/FaultOption.h"
#include "phonesim/Phone.h"
#include "sampleimages/SampleImages.h"

namespace tarnflow::cli {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kPhones = 5;
constexpr int kFaulty = 2;  // the middle phone gets the fault
constexpr uint32_t kStart = 0x8000;

struct FaultRow {
    const char* option;  // as phonesim --fault takes it, for phone kFaulty
    enum { Recovers, Fails, Either } expect;
};

void PrintTo(const FaultRow& row, std::ostream* out) { *out << row.option; }

// Five phones, one fault on one of them, the rest healthy: the healthy ones complete with
// their flash equal to the image; the faulty one recovers or is reported failed, and is never
// reported completed with a flash that differs; the download always ends.
class FaultMatrix : public ::testing::TestWithParam<FaultRow> {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnflow-faults-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
    }
    void TearDown() override {
        phones_.clear();
        std::filesystem::remove_all(folder_);
    }
    std::string folder_;
    std::vector<std::unique_ptr<phonesim::Phone>> phones_;
};

TEST_P(FaultMatrix, OnlyTheFaultyPhoneIsAffected) {
    const FaultRow& row = GetParam();
    std::vector<phonesim::FaultSettings> faults(kPhones);
    std::string error;
    ASSERT_TRUE(phonesim::ApplyFaultOption(std::to_string(kFaulty) + ":" + row.option, faults, error))
        << error;
    std::vector<std::string> args;
    for (int i = 0; i < kPhones; ++i) {
        auto phone = std::make_unique<phonesim::Phone>();
        phonesim::PhoneOptions options;
        options.faults = faults[i];
        ASSERT_TRUE(phone->Start(options)) << phone->Error();
        args.insert(args.end(), {"--port", phone->SlavePath()});
        phones_.push_back(std::move(phone));
    }
    const Bytes image = sample::PhoneCodeImage(kStart + 16 * 1024, kStart, 77);
    const std::string path = folder_ + "/code.bin";
    ASSERT_TRUE(sample::WriteFile(path, image));
    args.insert(args.end(), {"--code", path, "--no", "--json", folder_ + "/r.json"});
    const auto parsed = ParseOptions(args);
    ASSERT_TRUE(parsed.ok) << parsed.error;

    ::testing::internal::CaptureStdout();
    const int status = RunDownload(parsed.options);
    const std::string output = ::testing::internal::GetCapturedStdout();

    const Bytes code(image.begin() + kStart, image.end());
    for (int i = 0; i < kPhones; ++i) {
        const bool flashRight = phones_[i]->ReadFlash(kStart, code.size()) == code;
        const std::string summary = "Entry " + std::to_string(i + 1) + " (COM";
        const size_t at = output.rfind(summary);
        ASSERT_NE(at, std::string::npos) << output;
        const bool completed = output.compare(output.find("): ", at) + 3, 9, "completed") == 0;
        if (i != kFaulty) {
            EXPECT_TRUE(completed) << "healthy phone " << i << "\n" << output;
            EXPECT_TRUE(flashRight) << "healthy phone " << i;
            continue;
        }
        if (completed) {
            EXPECT_TRUE(flashRight) << "reported completed with a wrong flash\n" << output;
        }
        if (row.expect == FaultRow::Recovers) {
            EXPECT_TRUE(completed && flashRight) << output;
        } else if (row.expect == FaultRow::Fails) {
            EXPECT_FALSE(completed) << output;
        }
    }
    EXPECT_EQ(status, output.find("failed") == std::string::npos ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultMatrix,
    ::testing::Values(FaultRow{"silent-request:0", FaultRow::Fails},
                      // Silent after the start request: still at the start when the others
                      // finish, so let go. (A phone silent at its erase is waited for up to the
                      // erase limit; that runs on the virtual clock in the engine's tests.)
                      FaultRow{"silent-request:1", FaultRow::Fails},
                      FaultRow{"silent-block:5", FaultRow::Fails},
                      FaultRow{"lose-block-answer:5", FaultRow::Recovers},
                      FaultRow{"lose-block-answer:5:always", FaultRow::Fails},
                      FaultRow{"damage-request-answer:1", FaultRow::Recovers},
                      FaultRow{"damage-block-answer:5", FaultRow::Recovers},
                      FaultRow{"nak-resend:request:2", FaultRow::Recovers},
                      FaultRow{"nak-resend:block:5", FaultRow::Recovers},
                      FaultRow{"nak-model:request:0", FaultRow::Fails},
                      FaultRow{"nak-invalid:request:2", FaultRow::Fails},
                      FaultRow{"nak-invalid:block:5:damaged", FaultRow::Recovers},
                      FaultRow{"nak-failed:block:5", FaultRow::Fails},
                      FaultRow{"nak-failed:request:2:damaged", FaultRow::Recovers},
                      // Still erasing when the others finish: waited for, not dropped.
                      FaultRow{"slow-erase:2500", FaultRow::Recovers},
                      FaultRow{"unplug-block:5", FaultRow::Fails},
                      FaultRow{"raw-xonxoff", FaultRow::Either},
                      FaultRow{"xoff-during-erase", FaultRow::Recovers},
                      // Two seconds of XOFF in the middle of the blocks: no block is lost or
                      // shifted, and the other phones are not held up meanwhile.
                      FaultRow{"xoff-hold:8:2000", FaultRow::Recovers}),
    [](const ::testing::TestParamInfo<FaultRow>& info) {
        std::string name = info.param.option;
        for (char& c : name) {
            if (!std::isalnum(static_cast<unsigned char>(c))) {
                c = '_';
            }
        }
        return name;
    });

}  // namespace
}  // namespace tarnflow::cli
