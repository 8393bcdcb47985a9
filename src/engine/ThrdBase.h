#pragma once

#include <thread>

namespace tarnflow {

// A worker thread that is created idle, handed its parameters, then let run. The object owns
// its std::thread and joins it on destruction, so nothing the thread uses can vanish under it.
class CThreadBase {
  public:
    CThreadBase() = default;
    virtual ~CThreadBase();
    CThreadBase(const CThreadBase&) = delete;
    CThreadBase& operator=(const CThreadBase&) = delete;

    // Starts the thread body (Run, then End). Once only; false when it was already started.
    bool Resume();

    // Waits until the thread body has finished. Harmless when it never started or already ended.
    void Join();

    bool Started() const { return thread_.joinable(); }

  protected:
    virtual int Run() = 0;
    // Runs on the thread after Run, however Run returned.
    virtual void End() {}

  private:
    std::thread thread_;
};

}  // namespace tarnflow
