// The check of a chosen image file before any phone is touched, on real files: it must give
// the loader's own message, agree with what the loader does, and never block.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "engine/DloadFile.h"
#include "support/FakeOwner.h"

namespace tarnflow {
namespace {

using testing::FakeOwner;
using namespace std::chrono_literals;

// Real-time safety net against a hang; nothing is measured against it.
constexpr auto kLimit = 5s;

std::string ReadFail(const std::string& path) {
    return " Fail to read from " + path + "\n Please Check bin_file !";
}

class ImageFileCheck : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/imagecheck-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string File(const std::string& name, size_t length) {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << std::string(length, '\x5A');
        return path;
    }
    std::string Fifo() {
        const std::string path = dir + "/fifo";
        EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
        return path;
    }

    // The check's verdict, and that the loader does just what it says: loads the file, or
    // refuses it with the same message.
    void ExpectVerdict(const std::string& path, const std::string& expected) {
        SCOPED_TRACE(path);
        const std::string problem = ImageFileProblem(path, KIND_VPX_CODE);
        EXPECT_EQ(problem, expected);
        FakeOwner owner;
        CDloadFile image(&owner);
        EXPECT_EQ(image.Load(path, KIND_VPX_CODE), problem.empty());
        const auto boxes = owner.Boxes();
        if (problem.empty()) {
            EXPECT_TRUE(boxes.empty());
        } else {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, problem);
            EXPECT_EQ(boxes[0].style, MessageBoxStyle::Information);
        }
    }

    std::string dir;
};

TEST_F(ImageFileCheck, AgreesWithTheLoader) {
    const std::string good = File("good.bin", 1500);
    ASSERT_EQ(::symlink(good.c_str(), (dir + "/link.bin").c_str()), 0);
    const std::string fifo = Fifo();
    ASSERT_EQ(::symlink(fifo.c_str(), (dir + "/fifo-link").c_str()), 0);
    ASSERT_EQ(::symlink((dir + "/none").c_str(), (dir + "/dangling").c_str()), 0);

    ExpectVerdict(good, "");
    ExpectVerdict(File("empty.bin", 0), "");
    ExpectVerdict(dir + "/link.bin", "");
    for (const std::string& path : {dir + "/missing.bin", dir, fifo, dir + "/fifo-link",
                                    dir + "/dangling", std::string("/dev/null"), good + "/x"}) {
        ExpectVerdict(path, ReadFail(path));
    }
}

TEST_F(ImageFileCheck, UnreadableFileIsRefused) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads a file whatever its mode";
    }
    const std::string path = File("locked.bin", 1024);
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    ExpectVerdict(path, ReadFail(path));
}

TEST_F(ImageFileCheck, SizeLimitDependsOnTheKind) {
    // Sparse files, checked only: the loader would have to allocate what it accepts.
    const std::string path = File("huge.bin", 0);
    if (::truncate(path.c_str(), 0xFFFFFC01) != 0) {
        GTEST_SKIP() << "no sparse file of that length here";
    }
    // Fits in 32 bits as it is, but not once padded to whole blocks.
    EXPECT_EQ(ImageFileProblem(path, KIND_CODE_OLD), "");
    EXPECT_EQ(ImageFileProblem(path, KIND_VPX_FONT), ReadFail(path));
    ASSERT_EQ(::truncate(path.c_str(), 0x100000000), 0);
    EXPECT_EQ(ImageFileProblem(path, KIND_CODE_NEW), ReadFail(path));
}

TEST_F(ImageFileCheck, FifoWithoutWriterDoesNotBlock) {
    const std::string fifo = Fifo();
    auto verdict = std::async(std::launch::async, [&] { return ImageFileProblem(fifo, 0); });
    if (verdict.wait_for(kLimit) != std::future_status::ready) {
        // Opened for reading after all: a writer lets it go, so that the test can end.
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        ADD_FAILURE() << "the check waited for a writer";
        verdict.wait();
        ::close(writer);
        return;
    }
    EXPECT_EQ(verdict.get(), ReadFail(fifo));
}

}  // namespace
}  // namespace tarnflow
