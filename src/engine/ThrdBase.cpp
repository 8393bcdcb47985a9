#include "engine/ThrdBase.h"

namespace tarnflow {

CThreadBase::~CThreadBase() {
    Join();
}

bool CThreadBase::Resume() {
    if (thread_.joinable()) {
        return false;
    }
    thread_ = std::thread([this] {
        Run();
        End();
    });
    return true;
}

void CThreadBase::Join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
        thread_.join();
    }
}

}  // namespace tarnflow
