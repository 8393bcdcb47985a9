#include "platform/PortNames.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

namespace tarnflow {
namespace {

class PortNamesTable : public ::testing::Test {
  protected:
    void SetUp() override { PortNames::ResetForTesting(); }
    void TearDown() override { PortNames::ResetForTesting(); }
};

TEST_F(PortNamesTable, LowestFreeNumberOnFirstSightAndStableAfter) {
    EXPECT_EQ(PortNames::NumberFor("/dev/ttyACM0"), 1);
    EXPECT_EQ(PortNames::NumberFor("/dev/ttyACM1"), 2);
    EXPECT_EQ(PortNames::NumberFor("/dev/ttyACM0"), 1);
    EXPECT_EQ(PortNames::NumberFor("/dev/ttyACM1", 9), 2);
    EXPECT_EQ(PortNames::NumberFor("/dev/ttyACM2"), 3);
    EXPECT_EQ(PortNames::NodeFor(2), "/dev/ttyACM1");
    EXPECT_EQ(PortNames::NumberFor(""), 0);
}

TEST_F(PortNamesTable, PreferredNumberTakenOnlyWhenFree) {
    EXPECT_EQ(PortNames::NumberFor("/dev/ttyACM5", 7), 7);
    EXPECT_EQ(PortNames::NumberFor("/dev/ttyACM0"), 1);
    // 7 belongs to another node now: the lowest free one instead.
    EXPECT_EQ(PortNames::NumberFor("/dev/ttyACM6", 7), 2);
    // Out of range preferences are ignored.
    EXPECT_EQ(PortNames::NumberFor("/dev/ttyACM7", 0), 3);
    EXPECT_EQ(PortNames::NumberFor("/dev/ttyACM8", 256), 4);
    EXPECT_EQ(PortNames::NumberFor("/dev/ttyACM9", -1), 5);
    EXPECT_EQ(PortNames::NumberFor("/dev/ttyACM10", 255), 255);
    EXPECT_EQ(PortNames::NodeFor(7), "/dev/ttyACM5");
    EXPECT_EQ(PortNames::NodeFor(255), "/dev/ttyACM10");
}

TEST_F(PortNamesTable, FullTableGivesZeroButKeepsKnownNodes) {
    for (int i = 1; i <= PortNames::kMaxPort; ++i) {
        ASSERT_EQ(PortNames::NumberFor("/dev/node" + std::to_string(i)), i);
    }
    EXPECT_EQ(PortNames::NumberFor("/dev/one-too-many"), 0);
    EXPECT_EQ(PortNames::NumberFor("/dev/one-too-many", 3), 0);
    EXPECT_EQ(PortNames::NumberFor("/dev/node200"), 200);
    PortNames::ResetForTesting();
    EXPECT_EQ(PortNames::NumberFor("/dev/one-too-many"), 1);
    EXPECT_EQ(PortNames::NodeFor(2), "");
}

TEST_F(PortNamesTable, NodeAndNameOfNumbers) {
    EXPECT_EQ(PortNames::NumberFor("/dev/ttyUSB3", 12), 12);
    EXPECT_EQ(PortNames::NodeFor(12), "/dev/ttyUSB3");
    for (int unknown : {0, 1, 13, 255, 256, -4}) {
        EXPECT_EQ(PortNames::NodeFor(unknown), "") << unknown;
    }
    EXPECT_EQ(PortNames::PortName(4), "COM4");
    EXPECT_EQ(PortNames::PortName(12), "COM12");
    EXPECT_EQ(PortNames::PortName(255), "COM255");
}

TEST_F(PortNamesTable, ThreadsSeeingNodesAtOnceGetDistinctNumbers) {
    constexpr int kPerThread = 60;
    std::vector<int> numbers[2];
    std::thread threads[2];
    for (int t = 0; t < 2; ++t) {
        threads[t] = std::thread([t, &numbers] {
            for (int i = 0; i < kPerThread; ++i) {
                // Both threads also ask for a shared node, which must get one number.
                numbers[t].push_back(PortNames::NumberFor("/dev/shared"));
                numbers[t].push_back(
                    PortNames::NumberFor("/dev/t" + std::to_string(t) + "-" + std::to_string(i)));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::set<int> own;
    std::set<int> shared;
    for (const auto& list : numbers) {
        for (size_t i = 0; i < list.size(); i += 2) {
            shared.insert(list[i]);
            own.insert(list[i + 1]);
        }
    }
    ASSERT_EQ(shared.size(), 1u);
    EXPECT_EQ(own.size(), 2u * kPerThread);
    EXPECT_EQ(own.count(*shared.begin()), 0u);
    EXPECT_EQ(*own.rbegin(), 2 * kPerThread + 1);
}

}  // namespace
}  // namespace tarnflow
