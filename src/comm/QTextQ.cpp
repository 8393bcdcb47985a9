#include "comm/QTextQ.h"

namespace tarnflow {

int CTextQ::Add(int type, const std::string& text) {
    std::lock_guard<std::mutex> guard(lock_);
    items_.push_back(CTextQItem{type, text});
    log_.push_back(items_.back());
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

std::vector<CTextQItem> CTextQ::Log() const {
    std::lock_guard<std::mutex> guard(lock_);
    return log_;
}

void CTextQ::ClearLog() {
    std::lock_guard<std::mutex> guard(lock_);
    log_.clear();
}

}  // namespace tarnflow
