#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
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

constexpr int kPhones = 20;
constexpr uint32_t kStart = 0x4000;

// Faults that end quickly, one way or the other; the seeded generator picks some for each run.
const char* const kFaults[] = {
    "lose-block-answer:3",        "damage-request-answer:1", "damage-block-answer:7",
    "nak-resend:block:2",         "nak-invalid:request:2",   "nak-failed:block:4",
    "nak-failed:block:6:damaged", "unplug-block:5",          "raw-xonxoff",
    "xoff-during-erase",          "silent-request:0",
};

long ResidentKib() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int SoakRuns() {
    const char* runs = std::getenv("TARNFLOW_SOAK_RUNS");
    return runs != nullptr && std::atoi(runs) > 0 ? std::atoi(runs) : 3;
}

// Twenty phones, downloads one after another with seeded random faults: every run ends, no
// healthy phone fails, no phone is reported completed with a wrong flash, and (in a long run)
// the memory stays flat. TARNFLOW_SOAK_RUNS=30 gives the long run.
TEST(Soak, DownloadsInARowWithRandomFaults) {
    char pattern[] = "/tmp/tarnflow-soak-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    const Bytes image = sample::PhoneCodeImage(kStart + 12 * 1024, kStart, 99);
    const std::string path = folder + "/code.bin";
    ASSERT_TRUE(sample::WriteFile(path, image));
    const Bytes code(image.begin() + kStart, image.end());

    std::mt19937 random(20261211);
    std::vector<long> resident;
    const int runs = SoakRuns();
    for (int run = 0; run < runs; ++run) {
        std::vector<phonesim::FaultSettings> faults(kPhones);
        std::vector<bool> faulty(kPhones, false);
        for (int k = 0; k < 3; ++k) {
            const int phone = static_cast<int>(random() % kPhones);
            const char* option = kFaults[random() % std::size(kFaults)];
            std::string error;
            ASSERT_TRUE(
                phonesim::ApplyFaultOption(std::to_string(phone) + ":" + option, faults, error));
            faulty[phone] = true;
        }
        std::vector<std::unique_ptr<phonesim::Phone>> phones;
        std::vector<std::string> args = {"--code", path, "--no"};
        for (int i = 0; i < kPhones; ++i) {
            phones.push_back(std::make_unique<phonesim::Phone>());
            phonesim::PhoneOptions options;
            options.faults = faults[i];
            ASSERT_TRUE(phones.back()->Start(options)) << phones.back()->Error();
            args.insert(args.end(), {"--port", phones.back()->SlavePath()});
        }
        const auto parsed = ParseOptions(args);
        ASSERT_TRUE(parsed.ok);
        ::testing::internal::CaptureStdout();
        RunDownload(parsed.options);
        const std::string output = ::testing::internal::GetCapturedStdout();
        for (int i = 0; i < kPhones; ++i) {
            const std::string summary = "\nEntry " + std::to_string(i + 1) + " (COM";
            const size_t at = output.rfind(summary);
            ASSERT_NE(at, std::string::npos) << output;
            const bool completed = output.compare(output.find("): ", at) + 3, 9, "completed") == 0;
            const bool flashRight = phones[i]->ReadFlash(kStart, code.size()) == code;
            if (!faulty[i]) {
                EXPECT_TRUE(completed && flashRight) << "run " << run << " phone " << i;
            } else if (completed) {
                EXPECT_TRUE(flashRight) << "run " << run << " phone " << i;
            }
        }
        phones.clear();
        resident.push_back(ResidentKib());
    }
    std::filesystem::remove_all(folder);
    if (runs >= 10) {
        // From the fifth download on, the memory must not grow.
        long highest = 0;
        for (size_t k = 4; k < resident.size(); ++k) {
            highest = std::max(highest, resident[k]);
        }
        EXPECT_LT(highest - resident[4], 2048) << "resident KiB grew from " << resident[4];
    }
}

}  // namespace
}  // namespace tarnflow::cli
