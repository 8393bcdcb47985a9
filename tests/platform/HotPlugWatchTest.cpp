#include "platform/HotPlugWatch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <tuple>

namespace tarnflow {
namespace {

namespace fs = std::filesystem;

using Kind = HotPlugEvent::Kind;
using Events = std::vector<std::tuple<Kind, std::string, std::string>>;

class FolderWatch : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnflow-hotplug-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        map = root / "map";
        fs::create_directories(map);
        fs::create_directories(root / "nodes");
    }
    void TearDown() override { fs::remove_all(root); }

    std::string Node(const std::string& name) {
        const fs::path path = root / "nodes" / name;
        std::ofstream(path) << "x";
        return path.string();
    }
    // Fd() turns readable once the change is there; the events then wait to be read.
    std::vector<HotPlugEvent> EventsAfterChange() {
        pollfd pfd{watch.Fd(), POLLIN, 0};
        EXPECT_EQ(poll(&pfd, 1, 5000), 1);
        return watch.ReadEvents();
    }
    static Events Seen(const std::vector<HotPlugEvent>& events) {
        Events seen;
        for (const auto& event : events) {
            seen.emplace_back(event.kind, event.device.deviceName, event.device.node);
        }
        return seen;
    }

    fs::path root;
    fs::path map;
    HotPlugWatch watch;
};

TEST_F(FolderWatch, LinksArrivingAndLeavingCarryTheirNodes) {
    const std::string before = Node("before");
    fs::create_symlink(before, map / "tfusbmd00");
    ASSERT_TRUE(watch.StartFolder(map.string()));
    ASSERT_GE(watch.Fd(), 0);
    EXPECT_TRUE(fcntl(watch.Fd(), F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(fcntl(watch.Fd(), F_GETFD) & FD_CLOEXEC);
    // Nothing waits: no event, and reading returns at once.
    pollfd pfd{watch.Fd(), POLLIN, 0};
    EXPECT_EQ(poll(&pfd, 1, 0), 0);
    EXPECT_TRUE(watch.ReadEvents().empty());

    const std::string phone = Node("phone");
    std::ofstream(map / "notes") << "a plain file is no device";
    fs::create_symlink(phone, map / "tfusbmd01");
    EXPECT_EQ(Seen(EventsAfterChange()), (Events{{Kind::Arrival, "tfusbmd01", phone}}));

    // Nodes that have gone by now are still reported as they were.
    fs::remove(phone);
    fs::remove(before);
    fs::remove(map / "tfusbmd01");
    fs::remove(map / "tfusbmd00");
    EXPECT_EQ(Seen(EventsAfterChange()),
              (Events{{Kind::Removal, "tfusbmd01", phone}, {Kind::Removal, "tfusbmd00", before}}));
    EXPECT_TRUE(watch.ReadEvents().empty());
}

TEST_F(FolderWatch, LinkToANodeNotYetThereArrivesWithItsTarget) {
    ASSERT_TRUE(watch.StartFolder(map.string()));
    fs::create_symlink("../nodes/later", map / "tfusbmd05");
    const std::string node = (root / "nodes/later").string();
    EXPECT_EQ(Seen(EventsAfterChange()), (Events{{Kind::Arrival, "tfusbmd05", node}}));
    fs::remove(map / "tfusbmd05");
    EXPECT_EQ(Seen(EventsAfterChange()), (Events{{Kind::Removal, "tfusbmd05", node}}));
}

TEST_F(FolderWatch, LinksMovedInReplacedAndMovedOut) {
    const std::string a = Node("a");
    const std::string b = Node("b");
    fs::create_symlink(a, map / "tfusbmd00");
    ASSERT_TRUE(watch.StartFolder(map.string()));

    // Made elsewhere and renamed in, as a tool replacing links in one step does.
    fs::create_symlink(b, root / "staged");
    fs::rename(root / "staged", map / "tfusbmd01");
    EXPECT_EQ(Seen(EventsAfterChange()), (Events{{Kind::Arrival, "tfusbmd01", b}}));

    // The same link again is no new device; another target is one device leaving and one coming.
    fs::create_symlink(b, root / "staged");
    fs::rename(root / "staged", map / "tfusbmd01");
    fs::create_symlink(b, root / "staged");
    fs::rename(root / "staged", map / "tfusbmd00");
    EXPECT_EQ(Seen(EventsAfterChange()),
              (Events{{Kind::Removal, "tfusbmd00", a}, {Kind::Arrival, "tfusbmd00", b}}));

    fs::rename(map / "tfusbmd01", root / "moved-out");
    EXPECT_EQ(Seen(EventsAfterChange()), (Events{{Kind::Removal, "tfusbmd01", b}}));
}

TEST_F(FolderWatch, StartWatchesTheDeviceMapFolderWhenOneIsSet) {
    std::optional<std::string> old;
    if (const char* value = getenv("TARNFLOW_DEVICE_MAP")) {
        old = value;
    }
    setenv("TARNFLOW_DEVICE_MAP", map.c_str(), 1);
    const bool started = watch.Start();
    old ? setenv("TARNFLOW_DEVICE_MAP", old->c_str(), 1) : unsetenv("TARNFLOW_DEVICE_MAP");
    ASSERT_TRUE(started);
    const std::string node = Node("phone");
    fs::create_symlink(node, map / "tfusbmd02");
    EXPECT_EQ(Seen(EventsAfterChange()), (Events{{Kind::Arrival, "tfusbmd02", node}}));

    watch.Stop();
    EXPECT_EQ(watch.Fd(), -1);
    EXPECT_TRUE(watch.ReadEvents().empty());
}

TEST_F(FolderWatch, FolderThatCannotBeWatchedFails) {
    std::ofstream(root / "plain") << "x";
    for (const fs::path& folder : {root / "missing", root / "plain"}) {
        EXPECT_FALSE(watch.StartFolder(folder.string())) << folder;
        EXPECT_EQ(watch.Fd(), -1);
        EXPECT_TRUE(watch.ReadEvents().empty());
    }
}

// Containers often have no udev; the monitor then either starts and stays quiet or fails.
TEST(UdevWatch, StartsOrFailsCleanly) {
    HotPlugWatch watch;
    if (watch.StartUdev()) {
        ASSERT_GE(watch.Fd(), 0);
        EXPECT_TRUE(fcntl(watch.Fd(), F_GETFL) & O_NONBLOCK);
        watch.ReadEvents();
    } else {
        EXPECT_EQ(watch.Fd(), -1);
    }
    watch.Stop();
    EXPECT_EQ(watch.Fd(), -1);
}

}  // namespace
}  // namespace tarnflow
