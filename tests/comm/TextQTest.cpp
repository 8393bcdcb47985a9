#include "comm/QTextQ.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace tarnflow {
namespace {

TEST(CTextQ, ItemsComeOutInTheOrderAdded) {
    CTextQ queue;
    EXPECT_EQ(queue.Add(TEXT_NOTICE, "one"), 1);
    EXPECT_EQ(queue.Add(TEXT_ERROR, "two"), 1);
    EXPECT_EQ(queue.Add(TEXT_PROGRESS, ""), 1);  // Add itself accepts an empty text
    CTextQItem item;
    ASSERT_EQ(queue.RemoveHead(item), 1);
    EXPECT_EQ(item.type, TEXT_NOTICE);
    EXPECT_EQ(item.text, "one");
    ASSERT_EQ(queue.RemoveHead(item), 1);
    EXPECT_EQ(item.type, TEXT_ERROR);
    EXPECT_EQ(item.text, "two");
    ASSERT_EQ(queue.RemoveHead(item), 1);
    EXPECT_EQ(item.type, TEXT_PROGRESS);
    EXPECT_EQ(item.text, "");

    item = CTextQItem{TEXT_NOTICE, "untouched"};
    EXPECT_EQ(queue.RemoveHead(item), 0);
    EXPECT_EQ(item.text, "untouched");
}

TEST(CTextQ, RemoveAllEmptiesTheQueue) {
    CTextQ queue;
    queue.Add(TEXT_NOTICE, "a");
    queue.Add(TEXT_NOTICE, "b");
    queue.RemoveAll();
    CTextQItem item;
    EXPECT_EQ(queue.RemoveHead(item), 0);
}

TEST(CTextQ, TheLogKeepsEveryItemUntilCleared) {
    CTextQ queue;
    queue.Add(TEXT_NOTICE, "a");
    CTextQItem item;
    ASSERT_EQ(queue.RemoveHead(item), 1);
    queue.Add(TEXT_ERROR, "b");
    const auto log = queue.Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].text, "a");
    EXPECT_EQ(log[1].type, TEXT_ERROR);
    EXPECT_EQ(log[1].text, "b");
    queue.ClearLog();
    EXPECT_TRUE(queue.Log().empty());
    EXPECT_EQ(queue.GetCount(), 1u);  // clearing the log leaves the queue alone
}

TEST(CTextQ, OneThreadAddsWhileAnotherRemoves) {
    constexpr int kItems = 20000;
    CTextQ queue;
    std::thread producer([&] {
        for (int i = 0; i < kItems; ++i) {
            queue.Add(i % 2 == 0 ? TEXT_PROGRESS : TEXT_ERROR, std::to_string(i));
        }
    });
    std::vector<int> seen;
    seen.reserve(kItems);
    CTextQItem item;
    while (static_cast<int>(seen.size()) < kItems) {
        if (queue.RemoveHead(item) == 1) {
            ASSERT_EQ(item.type, seen.size() % 2 == 0 ? TEXT_PROGRESS : TEXT_ERROR);
            seen.push_back(std::stoi(item.text));
        } else {
            std::this_thread::yield();
        }
    }
    producer.join();
    for (int i = 0; i < kItems; ++i) {
        ASSERT_EQ(seen[i], i);
    }
    EXPECT_EQ(queue.RemoveHead(item), 0);
}

}  // namespace
}  // namespace tarnflow
