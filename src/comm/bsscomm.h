#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
// Output never blocks the caller: Write hands the port what it takes at once and keeps the rest,
// in order, for the link's transmit thread, which writes it as soon as the port takes it (the
// phone sent XON, or the output queue drained). A later Write queues behind what is pending.
//
// Threads: everything runs on the user-interface thread (Write and the requests,
// OutputPending, OutputFailed, Open, Close) except
//   - Read, ProcessReceived, BeginBurst and WaitForInput, which belong to the entry's receive
//     thread;
//   - the transmit thread, the link's own: Open starts it, Close (and Shutdown) wakes it, joins
//     it and drops what was still pending. It sleeps until output is pending and then only
//     until the port takes output, so an idle link costs no processor time.
// The threads share frameMode (atomic), responseBuffer (behind its own lock; read it with
// CopyResponse), the text queue (locked itself) and the pending output with its state (behind
// txLock_; every write to the port is made under it, so the two writers never interleave).
// Open and Close must not run while a receive thread of an earlier open is still using the
// port.
class CBssComm {
  public:
    CBssComm();
    virtual ~CBssComm();
    CBssComm(const CBssComm&) = delete;
    CBssComm& operator=(const CBssComm&) = delete;

    // Port side.
    void SetPortNumber(uint8_t number) { portNumber = number; }
    int Attach(IOwnerWindow* owner, CTextQ* queue);
    // Opens and configures the port and starts the transmit thread; 0 when any of it fails, or
    // when the link is open already (it stays as it is).
    int Open();
    // Why the last Open failed (None after one that succeeded) and the device node it tried
    // (empty when the port number has none), so that the operator can be told what to fix.
    SerialError LastOpenError() const { return openError_; }
    const std::string& LastOpenNode() const { return openNode_; }
    // Stops the transmit thread and drops output still pending, then closes the port (which
    // ends the receive thread's wait). 0 when the link was not open.
    int Close();
    int Shutdown();
    int Read(uint8_t* buffer, int maximum);
    // Writes the bytes behind any output still pending, without waiting: what the port takes
    // now is written at once, the rest is kept for the transmit thread. Returns 1 when every
    // byte was written or queued; 0 when the port is not open or the output has failed
    // (nothing of the bytes is written or kept then).
    int Write(const uint8_t* bytes, int count);
    // True while bytes handed to Write are not all accepted by the port yet.
    bool OutputPending() const;
    // True once a write to the port failed (I/O error, hang-up) since the last Open: what was
    // pending is dropped and Write returns 0 until the link is opened again.
    bool OutputFailed() const;

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
    int FailOpen(SerialError error);
    void PostText(int type, const std::string& text);
    void SendRequest(const uint8_t* request, uint16_t length, const char* text);
    void TransmitLoop();
    void FailOutput();  // with txLock_ held

    SerialPort port_;
    SerialError openError_ = SerialError::None;  // user-interface thread, like portOpen
    std::string openNode_;
    std::mutex rxLock;  // held around each read and each ProcessReceived
    FrameReceiver receiver_;
    mutable std::mutex responseLock_;
    uint8_t responseBuffer_[kResponseBufferSize] = {};

    // Pending output and the transmit thread. txPending_ holds the bytes not yet taken by the
    // port, oldest first; txFailed_ and txStop_ are the output's failure and the thread's stop.
    mutable std::mutex txLock_;
    std::condition_variable txWake_;  // output became pending, or the thread is to stop
    std::vector<uint8_t> txPending_;
    bool txFailed_ = false;
    bool txStop_ = false;
    std::thread txThread_;  // user-interface thread only
};

}  // namespace tarnflow
