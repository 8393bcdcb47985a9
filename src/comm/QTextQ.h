#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace tarnflow {

// Kinds of status text; the log draws them blue, red and black.
inline constexpr int TEXT_NOTICE = 2;
inline constexpr int TEXT_ERROR = 3;
inline constexpr int TEXT_PROGRESS = 4;

struct CTextQItem {
    int type = 0;
    std::string text;
};

// One entry's queue of typed status texts. Any thread adds; the user-interface thread takes
// items out, oldest first. No length limit; nothing is dropped. Every item added is also kept in
// the entry's log, which the download report carries, until ClearLog.
class CTextQ {
  public:
    CTextQ() = default;
    virtual ~CTextQ() = default;
    CTextQ(const CTextQ&) = delete;
    CTextQ& operator=(const CTextQ&) = delete;

    // Appends an item (an empty text too). Always 1.
    int Add(int type, const std::string& text);

    // 1 and the oldest item moved into `item`; 0 and `item` untouched when the queue is empty.
    int RemoveHead(CTextQItem& item);

    void RemoveAll();

    size_t GetCount() const;

    // Every item added since the last ClearLog, in order, whether taken out yet or not.
    std::vector<CTextQItem> Log() const;
    void ClearLog();

  private:
    mutable std::mutex lock_;
    std::deque<CTextQItem> items_;
    std::vector<CTextQItem> log_;
};

}  // namespace tarnflow
