#include "comm/Registry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace tarnflow {
namespace {

namespace fs = std::filesystem;

class RegistryFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnflow-registry-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        path = folder + "/sub/registry.ini";
        setenv("TARNFLOW_CONFIG", path.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("TARNFLOW_CONFIG");
        fs::remove_all(folder);
    }
    std::string folder;
    std::string path;
};

TEST_F(RegistryFile, MissingFileReadsEmptyAndWritesCreateIt) {
    EXPECT_EQ(CRegistry::FilePath(), path);
    EXPECT_EQ(CRegistry::ReadString("NEW_PHONE_BIN_PATH"), "");
    ASSERT_TRUE(CRegistry::WriteString("NEW_PHONE_BIN_PATH", "/images/"));
    EXPECT_EQ(CRegistry::ReadString("NEW_PHONE_BIN_PATH"), "/images/");
    std::ifstream file(path);
    const std::string text((std::istreambuf_iterator<char>(file)), {});
    EXPECT_EQ(text, "[SOFTWARE\\ORVENNA\\TARNFLOW]\nNEW_PHONE_BIN_PATH=/images/\n");
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder + "/sub"), fs::directory_iterator()), 1);
}

TEST_F(RegistryFile, RewritesKeepOtherValuesAndSections) {
    ASSERT_TRUE(CRegistry::WriteString("A", "1"));
    ASSERT_TRUE(CRegistry::WriteSectionString("PORTS", "pci-0000:00:14.0-usb-0:1.2:1.0", "7"));
    ASSERT_TRUE(CRegistry::WriteString("B", "two"));
    ASSERT_TRUE(CRegistry::WriteString("A", "3"));
    EXPECT_EQ(CRegistry::ReadString("A"), "3");
    EXPECT_EQ(CRegistry::ReadString("B"), "two");
    EXPECT_EQ(CRegistry::ReadSectionString("PORTS", "pci-0000:00:14.0-usb-0:1.2:1.0"), "7");
    EXPECT_EQ(CRegistry::ReadSectionString("PORTS", "A"), "");
    CRegistry::WriteInt("N", 42);
    EXPECT_EQ(CRegistry::ReadInt("N", 5), 42);
    EXPECT_EQ(CRegistry::ReadInt("missing", 5), 5);
    ASSERT_TRUE(CRegistry::WriteString("T", "12abc"));
    EXPECT_EQ(CRegistry::ReadInt("T", 5), 12);
}

TEST_F(RegistryFile, ValuesHoldAtMost127Characters) {
    EXPECT_TRUE(CRegistry::WriteString("V", std::string(127, 'a')));
    EXPECT_FALSE(CRegistry::WriteString("V", std::string(128, 'b')));
    EXPECT_EQ(CRegistry::ReadString("V"), std::string(127, 'a'));
    EXPECT_FALSE(CRegistry::WriteString("V", "two\nlines"));
    EXPECT_FALSE(CRegistry::WriteString("A=B", "x"));
    EXPECT_FALSE(CRegistry::WriteString("", "x"));
}

TEST_F(RegistryFile, DamagedOrUnwritableFilesNeverStopAnything) {
    fs::create_directories(folder + "/sub");
    std::ofstream(path) << "[SOFTWARE\\ORVENNA\\TARNFLOW]\nNEW_PHONE_BIN_PATH=/x/\nnot a line\n";
    EXPECT_EQ(CRegistry::ReadString("NEW_PHONE_BIN_PATH"), "");
    std::ofstream(path, std::ios::trunc) << std::string(70000, 'z');
    EXPECT_EQ(CRegistry::ReadString("NEW_PHONE_BIN_PATH"), "");

    // A path below a regular file can be neither read nor written.
    std::ofstream(folder + "/file") << "x";
    setenv("TARNFLOW_CONFIG", (folder + "/file/registry.ini").c_str(), 1);
    EXPECT_FALSE(CRegistry::WriteString("NEW_PHONE_BIN_PATH", "/y/"));
    EXPECT_EQ(CRegistry::ReadString("NEW_PHONE_BIN_PATH"), "");
}

}  // namespace
}  // namespace tarnflow
