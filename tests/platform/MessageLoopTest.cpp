#include "platform/MessageLoop.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace tarnflow {
namespace {

class VirtualLoop : public ::testing::Test {
  protected:
    void SetUp() override {
        loop.SetHandlers(
            [this](const Message& m) { events.push_back("msg" + std::to_string(m.wParam)); },
            [this](uint32_t id) {
                // Appended piece by piece: g++ 12 at -O3 takes "t" + std::string&& for an
                // overlapping copy (-Wrestrict).
                std::string event = "t";
                event += std::to_string(id);
                event += '@';
                event += std::to_string(clock.NowMs());
                events.push_back(event);
                if (onTimer) {
                    onTimer(id);
                }
            });
    }
    VirtualClock clock;
    MessageLoop loop{clock, &clock};
    std::vector<std::string> events;
    std::function<void(uint32_t)> onTimer;
};

TEST_F(VirtualLoop, PeriodicTimersFireInTimeOrder) {
    loop.SetTimer(3, 3000);
    loop.SetTimer(425, 500);
    loop.AdvanceBy(1499);
    EXPECT_EQ(events, (std::vector<std::string>{"t425@500", "t425@1000"}));
    events.clear();
    loop.AdvanceBy(1501);
    EXPECT_EQ(events, (std::vector<std::string>{"t425@1500", "t425@2000", "t425@2500", "t3@3000",
                                                "t425@3000"}));
    EXPECT_EQ(clock.NowMs(), 3000);
}

TEST_F(VirtualLoop, KilledOrReplacedTimersDoNotFire) {
    loop.SetTimer(1, 1000);
    loop.SetTimer(2, 1000);
    loop.KillTimer(2);
    loop.AdvanceBy(500);
    loop.SetTimer(1, 5000);  // same ID: replaces the earlier timer and restarts it
    loop.AdvanceBy(4999);
    EXPECT_TRUE(events.empty());
    loop.AdvanceBy(1);
    EXPECT_EQ(events, (std::vector<std::string>{"t1@5500"}));
    EXPECT_TRUE(loop.TimerArmed(1));
    EXPECT_FALSE(loop.TimerArmed(2));
    EXPECT_EQ(loop.TimerInterval(1), 5000);
}

TEST_F(VirtualLoop, PostedMessagesGoBeforeTimers) {
    loop.SetTimer(7, 100);
    onTimer = [this](uint32_t) {
        loop.KillTimer(7);
        loop.Post(Message{WM_RX_PACKET, 9, 0});
    };
    loop.Post(Message{WM_RX_PACKET, 1, 0});
    loop.AdvanceBy(200);
    EXPECT_EQ(events, (std::vector<std::string>{"msg1", "t7@100", "msg9"}));
}

TEST_F(VirtualLoop, MessagesFromOtherThreadsArriveInOrder) {
    std::thread poster([this] {
        for (uintptr_t i = 0; i < 100; ++i) {
            loop.Post(Message{WM_TEXT_QUEUED, i, 0});
        }
    });
    poster.join();
    EXPECT_EQ(loop.DispatchPosted(), 100);
    ASSERT_EQ(events.size(), 100u);
    EXPECT_EQ(events.front(), "msg0");
    EXPECT_EQ(events.back(), "msg99");
}

TEST(SteadyLoop, RunEndsOnQuitFromATimer) {
    SteadyClock clock;
    MessageLoop loop(clock);
    int fired = 0;
    loop.SetHandlers([](const Message&) {},
                     [&](uint32_t) {
                         if (++fired == 3) {
                             loop.Quit();
                         }
                     });
    loop.SetTimer(1, 1);
    loop.Run(clock.NowMs() + 10000);
    EXPECT_EQ(fired, 3);
}

// A handler waiting for an answer keeps the loop going: messages posted meanwhile are handled
// inside the wait, which ends once the answer has come.
TEST(SteadyLoop, NestedRunUntilHandlesOtherMessagesUntilAnswered) {
    SteadyClock clock;
    MessageLoop loop(clock);
    std::vector<uint32_t> handled;
    bool answered = false;
    loop.SetHandlers(
        [&](const Message& m) {
            handled.push_back(m.message);
            if (m.message == 1) {  // the question
                loop.Post(Message{2, 0, 0});
                loop.RunUntil([&] { return answered; });
                handled.push_back(100);  // back from the wait
                loop.Quit();
            } else if (m.message == 2) {  // another entry's work, which brings the answer
                loop.Post(Message{3, 0, 0});
            } else if (m.message == 3) {
                answered = true;
            }
        },
        [](uint32_t) {});
    loop.Post(Message{1, 0, 0});
    loop.Run(clock.NowMs() + 60000);
    EXPECT_EQ(handled, (std::vector<uint32_t>{1, 2, 3, 100}));
}

TEST(SteadyLoop, QuitDuringANestedWaitEndsTheOuterRun) {
    SteadyClock clock;
    MessageLoop loop(clock);
    int returnedFromWait = 0;
    loop.SetHandlers(
        [&](const Message& m) {
            if (m.message == 1) {
                loop.Post(Message{4, 0, 0});
                loop.RunUntil([] { return false; });  // never answered
                ++returnedFromWait;
            } else if (m.message == 4) {
                loop.Quit();
            }
        },
        [](uint32_t) {});
    loop.Post(Message{1, 0, 0});
    loop.Run(clock.NowMs() + 60000);
    EXPECT_EQ(returnedFromWait, 1);
}

}  // namespace
}  // namespace tarnflow
