#include "comm/QTextQ.h"

namespace tarnflow {

int CTextQ::Add(int type, const std::string& text) {
    std::lock_guard<std::mutex> guard(lock_);
    items_.push_back(CTextQItem{type, text});
    return 1;
}

int CTextQ::RemoveHead(CTextQItem& item) {
    std::lock_guard<std::mutex> guard(lock_);
    if (items_.empty()) {
        return 0;
    }
    item = std::move(items_.front());
    items_.pop_front();
    return 1;
}

void CTextQ::RemoveAll() {
    std::lock_guard<std::mutex> guard(lock_);
    items_.clear();
}

size_t CTextQ::GetCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return items_.size();
}

}  // namespace tarnflow
