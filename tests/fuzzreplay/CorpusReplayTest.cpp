#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz/FuzzTargets.h"

namespace tarnflow::fuzz {
namespace {

using Target = void (*)(const uint8_t*, size_t);

// Every input kept in a target's corpus, crashers found earlier included, runs again here; the
// sanitizer builds turn any memory fault into a failure.
size_t ReplayCorpus(const std::string& name, Target target) {
    size_t count = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(TARNFLOW_CORPUS_DIR) + "/" + name)) {
        std::ifstream file(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), {});
        target(bytes.data(), bytes.size());
        ++count;
    }
    return count;
}

TEST(CorpusReplay, ProcessReceived) {
    EXPECT_GT(ReplayCorpus("process_received", ProcessReceivedInput), 0u);
}

TEST(CorpusReplay, DloadFile) {
    EXPECT_GT(ReplayCorpus("dload_file", DloadFileInput), 0u);
}

}  // namespace
}  // namespace tarnflow::fuzz
