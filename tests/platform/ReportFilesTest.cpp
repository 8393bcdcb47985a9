#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "platform/FileDigest.h"
#include "platform/ReportFiles.h"

namespace tarnflow {
namespace {

namespace fs = std::filesystem;

class ReportFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnflow-files-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
    }
    void TearDown() override { fs::remove_all(root_); }

    static std::string Read(const fs::path& path) {
        std::ifstream file(path, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    static void Write(const fs::path& path, const std::string& content) {
        std::ofstream(path, std::ios::binary) << content;
    }

    fs::path root_;
};

TEST(Sha256, PublishedCheckValues) {
    const std::string abc = "abc";
    EXPECT_EQ(Sha256Hex(reinterpret_cast<const uint8_t*>(abc.data()), abc.size()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Hex(nullptr, 0),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST_F(ReportFiles, DigestReadsRegularFilesOnly) {
    Write(root_ / "image.bin", "abc");
    const FileDigest file = DigestFile((root_ / "image.bin").string());
    EXPECT_EQ(file.size, 3u);
    EXPECT_EQ(file.sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    // A FIFO without a writer would block a plain open and read: it is not read at all.
    ASSERT_EQ(mkfifo((root_ / "fifo").c_str(), 0600), 0);
    for (const fs::path& path : {root_ / "fifo", root_, root_ / "missing"}) {
        const FileDigest other = DigestFile(path.string());
        EXPECT_EQ(other.size, 0u) << path;
        EXPECT_FALSE(other.sha256.has_value()) << path;
    }
}

TEST_F(ReportFiles, AtomicWriteReplacesTheWholeFileOrNothing) {
    const fs::path report = root_ / "report.json";
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(report.string(), "first", error)) << error;
    ASSERT_TRUE(WriteFileAtomically(report.string(), "second", error)) << error;
    EXPECT_EQ(Read(report), "second");
    EXPECT_EQ(std::distance(fs::directory_iterator(root_), fs::directory_iterator()), 1);

    // A folder in the way: the write fails, says why, and leaves no temporary file behind.
    fs::create_directory(root_ / "taken");
    Write(root_ / "taken" / "inside", "x");
    EXPECT_FALSE(WriteFileAtomically((root_ / "taken").string(), "third", error));
    EXPECT_NE(error.find(root_.string() + "/taken"), std::string::npos) << error;
    EXPECT_EQ(std::distance(fs::directory_iterator(root_), fs::directory_iterator()), 2);
}

TEST_F(ReportFiles, CanWriteFileTellsWithoutLeavingAnything) {
    std::string error;
    EXPECT_TRUE(CanWriteFile((root_ / "new.json").string(), error)) << error;
    EXPECT_FALSE(fs::exists(root_ / "new.json"));
    EXPECT_FALSE(CanWriteFile((root_ / "no-such-folder" / "r.json").string(), error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_FALSE(CanWriteFile(root_.string(), error));
    EXPECT_TRUE(fs::is_empty(root_));
}

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(HistoryFilePath, FromTheEnvironment) {
    struct Case {
        const char* history;
        const char* state;
        const char* home;
        const char* expected;
    };
    const Case cases[] = {
        {"/tmp/h.jsonl", "/state", "/home/tech", "/tmp/h.jsonl"},
        {"", "/state", "/home/tech", ""},  // named but empty: no history
        {nullptr, "/state", "/home/tech", "/state/tarnflow/history.jsonl"},
        {nullptr, "relative", "/home/tech", "/home/tech/.local/state/tarnflow/history.jsonl"},
        {nullptr, nullptr, "/home/tech", "/home/tech/.local/state/tarnflow/history.jsonl"},
        {nullptr, nullptr, nullptr, ""},
    };
    for (const Case& c : cases) {
        ScopedEnv history("TARNFLOW_HISTORY", c.history);
        ScopedEnv state("XDG_STATE_HOME", c.state);
        ScopedEnv home("HOME", c.home);
        EXPECT_EQ(HistoryFilePath(), c.expected)
            << (c.history ? c.history : "-") << " " << (c.state ? c.state : "-");
    }
}

TEST_F(ReportFiles, AppendLineCreatesTheFolderAndAddsWholeLines) {
    const fs::path history = root_ / "state" / "tarnflow" / "history.jsonl";
    std::string error;
    ASSERT_TRUE(AppendLine(history.string(), "{\"a\":1}", error)) << error;
    ASSERT_TRUE(AppendLine(history.string(), "{\"b\":2}", error)) << error;
    EXPECT_EQ(Read(history), "{\"a\":1}\n{\"b\":2}\n");

    EXPECT_FALSE(AppendLine((root_ / "state").string(), "x", error));
    EXPECT_NE(error.find("history file"), std::string::npos) << error;
}

}  // namespace
}  // namespace tarnflow
