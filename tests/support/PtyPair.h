#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnflow::testing {

// A pseudo-terminal pair for tests: the slave stands in for a phone's serial device, the test
// plays the phone on the master. Bytes pass the master unchanged (raw mode). The time limits
// are real-time safety nets against hangs, never measured time-outs.
class PtyPair {
  public:
    // Opens the pair; on failure Valid() is false and Error() says why.
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Valid() const { return master_ >= 0; }
    const std::string& Error() const { return error_; }

    int MasterFd() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

    // Writes every byte to the master (so they arrive as input on the slave); false when the
    // master is closed, fails, or `limit` passed before all were taken.
    bool WriteMaster(const uint8_t* bytes, size_t count,
                     std::chrono::milliseconds limit = std::chrono::seconds(5));
    bool WriteMaster(const std::vector<uint8_t>& bytes,
                     std::chrono::milliseconds limit = std::chrono::seconds(5));

    // Reads what the slave sent until `count` bytes came or `limit` passed; returns those read
    // (fewer when the limit passed or no slave holds the line any more).
    std::vector<uint8_t> ReadMaster(size_t count,
                                    std::chrono::milliseconds limit = std::chrono::seconds(5));

    // Closes the master early: the slave side sees a hang-up, as when a phone is pulled out.
    void CloseMaster();

  private:
    int master_ = -1;
    std::string slavePath_;
    std::string error_;
};

}  // namespace tarnflow::testing
