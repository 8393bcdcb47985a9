#include "fuzz/FuzzTargets.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "comm/bsscomm.h"
#include "engine/DloadFile.h"
#include "platform/OwnerWindow.h"

namespace tarnflow::fuzz {

namespace {

// Takes every notification and answers every question with Yes, so all paths are reached.
class SilentOwner : public IOwnerWindow {
  public:
    void PostMessage(uint32_t, uintptr_t, intptr_t) override {}
    int MessageBox(const std::string&, MessageBoxStyle style) override {
        return style == MessageBoxStyle::Ok || style == MessageBoxStyle::Information ? IDOK : IDYES;
    }
};

}  // namespace

void ProcessReceivedInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return;
    }
    SilentOwner owner;
    CTextQ queue;
    CBssComm link;
    link.Attach(&owner, &queue);
    link.frameMode = data[0] & 1;
    const size_t chunk =
        std::max<size_t>(1, std::min<size_t>(kReadChunkMax, (data[0] >> 1) * 4 + 1));
    int keepGoing = 1;
    int chunks = 0;
    for (size_t at = 1; at < size; at += chunk) {
        if (chunks++ % 4 == 0) {
            link.BeginBurst();
            keepGoing = 1;
        }
        const size_t n = std::min(chunk, size - at);
        if (keepGoing) {
            keepGoing = link.ProcessReceived(data + at, static_cast<int>(n), 0);
        }
    }
    uint8_t response[kResponseBufferSize];
    link.CopyResponse(response, sizeof response);
}

void DloadFileInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return;
    }
    const int fd = memfd_create("tarnflow-fuzz", 0);
    if (fd < 0) {
        return;
    }
    if (write(fd, data + 1, size - 1) == static_cast<ssize_t>(size - 1)) {
        SilentOwner owner;
        CDloadFile file(&owner);
        const auto kind = static_cast<ImageKind>(data[0] % kImageKindCount);
        if (file.Load("/proc/self/fd/" + std::to_string(fd), kind)) {
            BlockRecord record;
            for (uint32_t index = 0; file.GetBlock(0, index, record); ++index) {
                volatile uint8_t last = record.data[record.length - 1];
                (void)last;
                (void)file.GetBlockCrc(0, index);
            }
            (void)file.GetBlockCrc(file.GetStartAddress(), 1);
        }
    }
    close(fd);
}

}  // namespace tarnflow::fuzz
