#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "comm/BlockRecord.h"
#include "engine/ImageKind.h"
#include "platform/OwnerWindow.h"

namespace tarnflow {

// First bytes of the Retry Packet. The phone answers a block that begins with them with
// RETRY_ACK, so an image block should never begin with them.
inline constexpr std::array<uint8_t, 8> kRetrySignature = {0x01, 0x12, 0x73, 0x80,
                                                           0x40, 0x67, 0x24, 0x01};

// The message the loader shows for the file at `path` when it would refuse it for what the file
// is (missing, unreadable, not a regular file, too large for an image of `kind`), or empty when
// the loader would read it. Looks at the file's status only and never opens it, so a FIFO
// without a writer cannot block the caller.
std::string ImageFileProblem(const std::string& path, int kind);

// One image file held in memory for the download engine: read, checked (Phone Code trailer),
// cut into 1024-byte blocks with a check value each, and handed out block by block. Every
// failure is reported to the host in a message box; without a host the text goes to the trace
// and a question counts as answered No. User-interface thread only.
class CDloadFile {
  public:
    explicit CDloadFile(IOwnerWindow* host = nullptr);
    virtual ~CDloadFile();

    CDloadFile(const CDloadFile&) = delete;
    CDloadFile& operator=(const CDloadFile&) = delete;

    void SetHost(IOwnerWindow* host) { host_ = host; }

    // Replaces the held image with the file at `path`; false (already reported) leaves the
    // object empty.
    bool Load(const std::string& path, ImageKind kind);

    // Fills `record` for the block at base + index * 1024. Refused (false, data null, length 0)
    // unless the whole 1024 bytes lie inside the image. The record borrows from this object
    // until its next Load, Reset or Unload.
    bool GetBlock(uint32_t base, uint32_t index, BlockRecord& record) const;

    // Check value of block (base + index * 1024) / 1024; 0 for a block without one.
    uint16_t GetBlockCrc(uint32_t base, uint32_t index) const;
    size_t GetBlockCrcCount() const { return blockCrcs_.size(); }

    uint32_t GetSize() const { return size_; }
    uint32_t GetStartAddress() const { return startAddress_; }
    const std::string& GetPath() const { return path_; }
    const uint8_t* Data() const { return buffer_.get(); }

    // The one Retry Packet shared by all objects: signature, 1016 zeros, length 1024, address 0.
    static const BlockRecord& GetRetryPacket();

    // A multiple of 0x1000 that is either 0 or at least 0x4000.
    static bool IsValidStartAddress(uint32_t address);

    // Drops the image; the start address keeps its value.
    void Reset();
    // Drops the image and says so in the trace.
    void Unload();

  private:
    bool ReadImage(ImageKind kind);
    void ComputeBlockCrcs();
    void WarnRetryPatterns();
    bool CheckTailMarker();
    bool CheckSwVersion();
    bool CheckStartAddress();
    uint32_t ReadLe32(uint32_t offset) const;
    int ShowBox(const std::string& text, MessageBoxStyle style);

    IOwnerWindow* host_ = nullptr;
    std::string path_;
    std::unique_ptr<uint8_t[]> buffer_;
    uint32_t size_ = 0;
    uint32_t startAddress_ = 0;
    std::vector<uint16_t> blockCrcs_;
};

}  // namespace tarnflow
