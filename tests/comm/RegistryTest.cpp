#include "comm/Registry.h"
#include "support/ScopedEnv.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <optional>

namespace tarnflow {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFolderValue = "NEW_PHONE_BIN_PATH";

using testing::ScopedEnv;

class RegistryFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnflow-registry-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        path = root / "sub/deeper/registry.ini";
        config.emplace("TARNFLOW_CONFIG", path.c_str());
    }
    void TearDown() override {
        config.reset();
        fs::remove_all(root);
    }

    std::string Text() {
        std::ifstream file(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(file)), {});
    }
    void Put(const std::string& text) {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }
    // Every write leaves exactly the file itself in its folder.
    void ExpectOnlyTheFile() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(path.parent_path())) {
            names.push_back(entry.path().filename().string());
        }
        EXPECT_EQ(names, std::vector<std::string>{"registry.ini"});
    }

    fs::path root;
    fs::path path;
    std::optional<ScopedEnv> config;
};

TEST_F(RegistryFile, MissingFileReadsEmptyAndTheFirstWriteCreatesIt) {
    EXPECT_EQ(CRegistry::FilePath(), path.string());
    EXPECT_EQ(CRegistry::ReadString(kFolderValue), "");
    EXPECT_EQ(CRegistry::ReadInt("COUNT", 9), 9);

    ASSERT_TRUE(CRegistry::WriteString(kFolderValue, "/images/"));
    EXPECT_EQ(CRegistry::ReadString(kFolderValue), "/images/");
    EXPECT_EQ(Text(), "[SOFTWARE\\ORVENNA\\TARNFLOW]\nNEW_PHONE_BIN_PATH=/images/\n");
    ExpectOnlyTheFile();
}

TEST_F(RegistryFile, RewritesKeepOtherValuesSectionsAndComments) {
    const std::string socket = "pci-0000:00:14.0-usb-0:1.2.3.4.1.2:1.0-" + std::string(300, 'p');
    Put("; kept by hand\n[OTHER]\nX=1\n\n[SOFTWARE\\ORVENNA\\TARNFLOW]\nA=old\n# note\n");
    chmod(path.c_str(), 0600);

    ASSERT_TRUE(CRegistry::WriteString("A", "1"));
    ASSERT_TRUE(CRegistry::WriteSectionString("PORTS", socket, "7"));
    ASSERT_TRUE(CRegistry::WriteString("B", "two=2"));
    ASSERT_TRUE(CRegistry::WriteSectionString("PORTS", "usb-0:1", std::string(300, 'v')));
    ASSERT_TRUE(CRegistry::WriteString("A", "3"));

    EXPECT_EQ(CRegistry::ReadString("A"), "3");
    EXPECT_EQ(CRegistry::ReadString("B"), "two=2");
    EXPECT_EQ(CRegistry::ReadSectionString("PORTS", socket), "7");
    EXPECT_EQ(CRegistry::ReadSectionString("PORTS", "usb-0:1"), std::string(300, 'v'));
    EXPECT_EQ(CRegistry::ReadSectionString("OTHER", "X"), "1");
    EXPECT_EQ(CRegistry::ReadSectionString("PORTS", "A"), "");
    EXPECT_EQ(Text(),
              "; kept by hand\n[OTHER]\nX=1\n\n[SOFTWARE\\ORVENNA\\TARNFLOW]\nA=3\nB=two=2\n"
              "# note\n[PORTS]\n" +
                  socket + "=7\nusb-0:1=" + std::string(300, 'v') + "\n");
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ExpectOnlyTheFile();
}

TEST_F(RegistryFile, WritesThatWouldNotReadBackAreRefused) {
    ASSERT_TRUE(CRegistry::WriteString("V", std::string(127, 'a')));
    EXPECT_EQ(CRegistry::ReadString("V"), std::string(127, 'a'));

    struct Case {
        std::string section, name, value;
    };
    const Case refused[] = {
        {CRegistry::kKeyPath, "V", std::string(128, 'b')},
        {CRegistry::kKeyPath, "V", "two\nlines"},
        {CRegistry::kKeyPath, "V", "carriage\rreturn"},
        {CRegistry::kKeyPath, "V", std::string("zero\0byte", 9)},
        {CRegistry::kKeyPath, "", "x"},
        {CRegistry::kKeyPath, "A=B", "x"},
        {CRegistry::kKeyPath, "A\nB", "x"},
        {CRegistry::kKeyPath, "[V", "x"},
        {CRegistry::kKeyPath, ";V", "x"},
        {CRegistry::kKeyPath, " #V", "x"},
        {"PORTS", "pci-0000:00:14.0=usb", "1"},
        {"PORTS", "usb-0:1", "1\n2"},
        {"POR\nTS", "usb-0:1", "1"},
        {"", "usb-0:1", "1"},
    };
    for (const auto& c : refused) {
        const bool written = c.section == CRegistry::kKeyPath
                                 ? CRegistry::WriteString(c.name, c.value)
                                 : CRegistry::WriteSectionString(c.section, c.name, c.value);
        EXPECT_FALSE(written) << c.section << " / " << c.name << " = " << c.value;
    }
    EXPECT_EQ(CRegistry::ReadString("V"), std::string(127, 'a'));
    EXPECT_EQ(Text(), "[SOFTWARE\\ORVENNA\\TARNFLOW]\nV=" + std::string(127, 'a') + "\n");
}

TEST_F(RegistryFile, DamagedFileReadsAsEmptyAndIsReplacedOnWrite) {
    const std::string good = "[SOFTWARE\\ORVENNA\\TARNFLOW]\nNEW_PHONE_BIN_PATH=/x/\n";
    const std::string damaged[] = {
        good + "not a line\n",
        good + "=no name\n",
        "NEW_PHONE_BIN_PATH=/x/\n[SOFTWARE\\ORVENNA\\TARNFLOW\n",
        good + std::string("A=\0", 3) + "\n",
        good + "; padding " + std::string(64 * 1024, 'z') + "\n",
    };
    for (const auto& text : damaged) {
        Put(text);
        EXPECT_EQ(CRegistry::ReadString(kFolderValue), "") << text.substr(0, 80);
    }
    ASSERT_TRUE(CRegistry::WriteString(kFolderValue, "/y/"));
    EXPECT_EQ(Text(), "[SOFTWARE\\ORVENNA\\TARNFLOW]\nNEW_PHONE_BIN_PATH=/y/\n");

    // Files edited elsewhere still read: line ends of two characters, a byte-order mark,
    // comments set in, exactly 64 KiB.
    const std::string sound[] = {
        "[SOFTWARE\\ORVENNA\\TARNFLOW]\r\nNEW_PHONE_BIN_PATH=/x/\r\n",
        "\xEF\xBB\xBF" + good,
        "  ; comment\n\t\n" + good,
        good + "; " + std::string(64 * 1024 - good.size() - 3, 'z') + "\n",
    };
    for (const auto& text : sound) {
        Put(text);
        EXPECT_EQ(CRegistry::ReadString(kFolderValue), "/x/") << text.substr(0, 80);
    }
}

TEST_F(RegistryFile, AFileThatWouldGrowPast64KiBIsNotWritten) {
    int written = 0;
    while (CRegistry::WriteSectionString("PORTS", "socket" + std::to_string(written),
                                         std::string(1000, 'v'))) {
        ASSERT_LT(++written, 100);
    }
    EXPECT_GT(written, 60);
    EXPECT_LE(fs::file_size(path), 64u * 1024);
    EXPECT_EQ(CRegistry::ReadSectionString("PORTS", "socket0"), std::string(1000, 'v'));
    ExpectOnlyTheFile();
}

TEST_F(RegistryFile, LocationsThatCannotHoldTheFileFailQuietly) {
    std::ofstream(root / "file") << "x";
    fs::create_directories(root / "folder");
    for (const fs::path& location : {root / "file/registry.ini", root / "folder"}) {
        ScopedEnv inside("TARNFLOW_CONFIG", location.c_str());
        EXPECT_FALSE(CRegistry::WriteString(kFolderValue, "/y/")) << location;
        EXPECT_EQ(CRegistry::ReadString(kFolderValue), "") << location;
        EXPECT_EQ(CRegistry::ReadInt("N", 4), 4);
    }
    EXPECT_TRUE(fs::is_directory(root / "folder"));
    EXPECT_TRUE(fs::is_empty(root / "folder"));
}

TEST_F(RegistryFile, ALinkedFileIsUpdatedWhereItLies) {
    const fs::path real = root / "real.ini";
    std::ofstream(real) << "[SOFTWARE\\ORVENNA\\TARNFLOW]\nA=1\n";
    fs::create_directories(path.parent_path());
    fs::create_symlink(real, path);
    ASSERT_TRUE(CRegistry::WriteString("B", "2"));
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(CRegistry::ReadString("A"), "1");
    EXPECT_EQ(CRegistry::ReadString("B"), "2");
}

TEST_F(RegistryFile, IntegersReadTheirLeadingDigits) {
    CRegistry::WriteInt("N", 42);
    EXPECT_EQ(CRegistry::ReadInt("N", 5), 42);
    CRegistry::WriteInt("N", -7);
    EXPECT_EQ(CRegistry::ReadInt("N", 5), -7);
    EXPECT_EQ(CRegistry::ReadString("N"), "-7");

    const std::pair<std::string, int> texts[] = {
        {"12abc", 12}, {"abc", 0}, {" 8", 8}, {"99999999999", INT_MAX}, {"-99999999999", INT_MIN},
    };
    for (const auto& [text, number] : texts) {
        ASSERT_TRUE(CRegistry::WriteString("T", text));
        EXPECT_EQ(CRegistry::ReadInt("T", 5), number) << text;
    }
    EXPECT_EQ(CRegistry::ReadInt("missing", 5), 5);
}

TEST(RegistryPath, ConfigFolderFromTheEnvironment) {
    ScopedEnv config("TARNFLOW_CONFIG", nullptr);
    ScopedEnv home("HOME", "/home/operator");
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/etc/xdg-operator");
        EXPECT_EQ(CRegistry::FilePath(), "/etc/xdg-operator/tarnflow/registry.ini");
    }
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(CRegistry::FilePath(), "/home/operator/.config/tarnflow/registry.ini");
    ScopedEnv own("TARNFLOW_CONFIG", "/srv/rig/settings.ini");
    EXPECT_EQ(CRegistry::FilePath(), "/srv/rig/settings.ini");
}

}  // namespace
}  // namespace tarnflow
