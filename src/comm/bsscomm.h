#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "comm/BlockRecord.h"
#include "comm/Checksums.h"
#include "comm/FrameCodec.h"
#include "comm/QTextQ.h"
#include "platform/OwnerWindow.h"
#include "platform/SerialPort.h"

namespace tarnflow {

// Request codes sent to the boot loader.
inline constexpr uint8_t REQ_DL_START = 0xA0;
inline constexpr uint8_t REQ_JUMP = 0xC0;
inline constexpr uint8_t REQ_FLASH_ERASE = 0xEE;
inline constexpr uint8_t REQ_FLASH_ERASE2 = 0xEF;

// Response codes; the two bytes after ACK to a request are the FCS of the packet 02.
inline constexpr uint8_t ACK = 0x02;
inline constexpr uint8_t RETRY_ACK = 0x03;
inline constexpr uint8_t NAK_RESEND = 0xA1;
inline constexpr uint8_t NAK_MODEL_MISMATCH = 0xA2;
inline constexpr uint8_t NAK_INVALID_CMD = 0xA3;
inline constexpr uint8_t NAK_FAILED = 0xA4;
inline constexpr uint8_t ACK_FCS_LOW = 0x6A;
inline constexpr uint8_t ACK_FCS_HIGH = 0xD3;

inline constexpr size_t kResponseBufferSize = 500;
inline constexpr size_t kReadChunkMax = 512;

// The link object of one entry: its serial port, the framing of requests and the decoding of
// responses, and the requests of the download protocol.
//
// Threads: everything runs on the user-interface thread except Read, ProcessReceived,
// BeginBurst and WaitForInput, which belong to the entry's receive thread. The two threads
// share frameMode (atomic), responseBuffer (behind its own lock; read it with CopyResponse) and
// the text queue (locked itself). Open and Close must not run while a receive thread of an
// earlier open is still using the port.
class CBssComm {
  public:
    CBssComm();
    virtual ~CBssComm();
    CBssComm(const CBssComm&) = delete;
    CBssComm& operator=(const CBssComm&) = delete;

    // Port side.
    void SetPortNumber(uint8_t number) { portNumber = number; }
    int Attach(IOwnerWindow* owner, CTextQ* queue);
    int Open();
    int Close();
    int Shutdown();
    int Read(uint8_t* buffer, int maximum);
    int Write(const uint8_t* bytes, int count);

    // Receive-thread side of the port: ArmReceiveWait is the thread's check that the port can
    // be waited on; WaitForInput ends when a byte arrives or the port is being closed.
    bool ArmReceiveWait();
    WaitResult WaitForInput();
    void BeginBurst();

    // Framing.
    int SendFrame(const uint8_t* request, uint16_t length);
    int ProcessReceived(const uint8_t* bytes, int length, int entry);
    void DeliverPacket(const uint8_t* packet, int length, int entry);
    void PostErrorText(const std::string& text);

    // Requests and blocks.
    void RequestDownloadStart();
    void RequestJump();
    void RequestFlashErase(uint32_t startAddress, uint32_t length);
    void RequestFlashErase2(uint32_t area, uint32_t length);
    void SendImageBlock(const BlockRecord& record);
    void SendImageBlockExpecting(const BlockRecord& record, uint16_t checkValue);
    void SendRawBlock(const BlockRecord& record);
    bool CheckBlockAck(uint8_t byte1, uint8_t byte2) const;
    void ResendLastRequest();
    void PostProgressText(const std::string& text);

    // Copies the first `count` (at most kResponseBufferSize) bytes of responseBuffer.
    void CopyResponse(uint8_t* out, size_t count) const;

    static uint16_t Fcs16(const uint8_t* bytes, size_t length) {
        return tarnflow::Fcs16(bytes, length);
    }
    static uint16_t BlockCheckValue(const uint8_t* bytes, size_t length) {
        return tarnflow::BlockCheckValue(bytes, length);
    }
    static uint32_t Crc30(const uint8_t* bytes, size_t count) {
        return tarnflow::Crc30(bytes, count);
    }

    // Fields keep the system's names. portOpen and the request state belong to the
    // user-interface thread.
    int portOpen = 0;
    std::atomic<int> entryIndex{0};
    IOwnerWindow* ownerWnd = nullptr;
    CTextQ* textQueue = nullptr;
    uint8_t portNumber = 1;
    uint8_t byteSize = 8;
    int baudRate = 57600;
    uint8_t parity = 0;
    uint8_t stopBits = 0;
    std::atomic<int> frameMode{0};
    uint16_t lastRequestLength = 0;
    uint8_t lastRequest[kMaxRequestLength] = {};
    uint8_t expectedAck[2] = {0, 0};  // high, low

    SerialPort& Port() { return port_; }

  private:
    int Configure();
    void PostText(int type, const std::string& text);
    void SendRequest(const uint8_t* request, uint16_t length, const char* text);

    SerialPort port_;
    std::mutex rxLock;  // held around each read and each ProcessReceived
    FrameReceiver receiver_;
    mutable std::mutex responseLock_;
    uint8_t responseBuffer_[kResponseBufferSize] = {};
};

}  // namespace tarnflow
