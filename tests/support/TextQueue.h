#pragma once

#include <vector>

#include "comm/QTextQ.h"

namespace tarnflow::testing {

// Takes every item out of a queue, oldest first.
inline std::vector<CTextQItem> DrainTexts(CTextQ& queue) {
    std::vector<CTextQItem> all;
    CTextQItem item;
    while (queue.RemoveHead(item)) {
        all.push_back(item);
    }
    return all;
}

}  // namespace tarnflow::testing
