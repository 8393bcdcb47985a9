#include "comm/bsscomm.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>

#include "platform/Messages.h"
#include "platform/PortNames.h"
#include "platform/Trace.h"

namespace tarnflow {

namespace {

constexpr auto kReadPause = std::chrono::milliseconds(5);
constexpr auto kSettlePause = std::chrono::milliseconds(100);
constexpr const char* kBadFrameText = "\n[RX]Bad CRC in response packet\n";
constexpr const char* kResendText = "패킷 재전송합니다.";
constexpr const char* kEraseText = "Flash erase 중... 잠시만 기다리세요";

void PutLe32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

}  // namespace

CBssComm::CBssComm() = default;

CBssComm::~CBssComm() {
    Shutdown();
}

int CBssComm::Attach(IOwnerWindow* owner, CTextQ* queue) {
    ownerWnd = owner;
    textQueue = queue;
    return 1;
}

int CBssComm::Open() {
    if (portOpen != 0) {
        // Opening again would leave the port and its transmit thread behind the link's back.
        Trace("Failt to open Comm\n");
        return FailOpen(SerialError::Busy);
    }
    {
        std::lock_guard<std::mutex> guard(rxLock);
        receiver_.Clear();
    }
    openNode_ = PortNames::NodeFor(portNumber);
    if (openNode_.empty() || !port_.Open(openNode_)) {
        Trace("Failt to open Comm\n");
        return FailOpen(openNode_.empty() ? SerialError::NotFound : port_.LastError());
    }
    port_.Purge();
    if (!Configure()) {
        const SerialError error = port_.LastError();
        port_.Close();
        return FailOpen(error);
    }
    {
        std::lock_guard<std::mutex> guard(txLock_);
        txPending_.clear();
        txFailed_ = false;
        txStop_ = false;
    }
    // Started here rather than at the first held write: Open is where a failure can still be
    // reported as a port that did not open, and an idle thread costs nothing.
    try {
        txThread_ = std::thread([this] { TransmitLoop(); });
    } catch (const std::system_error&) {
        Trace("Failt to open Comm\n");
        port_.Close();
        return FailOpen(SerialError::Io);
    }
    // Lets the line settle before the first request goes out.
    std::this_thread::sleep_for(kSettlePause);
    openError_ = SerialError::None;
    portOpen = 1;
    return 1;
}

int CBssComm::FailOpen(SerialError error) {
    openError_ = error;
    return 0;
}

int CBssComm::Configure() {
    LineSettings settings;
    settings.baudRate = baudRate;
    settings.byteSize = byteSize;
    settings.parity = parity;
    settings.stopBits = stopBits;
    return port_.Configure(settings) ? 1 : 0;
}

int CBssComm::Close() {
    if (portOpen == 0) {
        return 0;
    }
    portOpen = 0;
    {
        std::lock_guard<std::mutex> guard(txLock_);
        txStop_ = true;
    }
    txWake_.notify_one();
    // SerialPort::Close wakes the receive thread's wait and the transmit thread's wait for
    // room, drops DTR and RTS and purges.
    const bool closed = port_.Close();
    if (txThread_.joinable()) {
        txThread_.join();
    }
    {
        std::lock_guard<std::mutex> guard(txLock_);
        txPending_.clear();
    }
    if (!closed) {
        if (ownerWnd != nullptr) {
            char text[64];
            std::snprintf(text, sizeof text, "Error : Close COM Port (pipe number :%d)",
                          entryIndex.load());
            ownerWnd->MessageBox(text, MessageBoxStyle::Ok);
        }
    }
    return 1;
}

int CBssComm::Shutdown() {
    Close();
    return 1;
}

int CBssComm::Read(uint8_t* buffer, int maximum) {
    std::lock_guard<std::mutex> guard(rxLock);
    std::this_thread::sleep_for(kReadPause);
    if (maximum <= 0) {
        return 0;
    }
    const size_t waiting = port_.BytesWaiting();
    const size_t n = std::min(static_cast<size_t>(maximum), waiting);
    if (n == 0) {
        return 0;
    }
    const long got = port_.Read(buffer, n);
    if (got < 0) {
        Trace("READ_Error : ReadFile() in COMM\n");
        return 0;
    }
    return static_cast<int>(got);
}

int CBssComm::Write(const uint8_t* bytes, int count) {
    if (portOpen == 0 || count < 0 || (bytes == nullptr && count > 0)) {
        return 0;
    }
    const auto n = static_cast<size_t>(count);
    bool wake = false;
    {
        std::lock_guard<std::mutex> guard(txLock_);
        if (txFailed_) {
            return 0;
        }
        if (!txPending_.empty()) {
            // Behind what is still waiting, never around it.
            txPending_.insert(txPending_.end(), bytes, bytes + n);
            return 1;
        }
        const long written = port_.WriteSome(bytes, n);
        if (written < 0) {
            FailOutput();
            return 0;
        }
        const auto done = static_cast<size_t>(written);
        if (done < n) {
            txPending_.assign(bytes + done, bytes + n);
            wake = true;
        }
    }
    if (wake) {
        txWake_.notify_one();
    }
    return 1;
}

bool CBssComm::OutputPending() const {
    std::lock_guard<std::mutex> guard(txLock_);
    return !txPending_.empty();
}

bool CBssComm::OutputFailed() const {
    std::lock_guard<std::mutex> guard(txLock_);
    return txFailed_;
}

void CBssComm::FailOutput() {
    Trace("WRITE_Error : WriteFile() in COMM\n");
    txFailed_ = true;
    txPending_.clear();
}

// The transmit thread: sleeps until output is pending, writes what the port takes, and while
// the port takes nothing (XOFF, full queue) sleeps in the port's wait, without the lock, so that
// Write can queue more behind meanwhile. Every write is made under txLock_, as Write's are.
void CBssComm::TransmitLoop() {
    std::unique_lock<std::mutex> lock(txLock_);
    for (;;) {
        txWake_.wait(lock, [this] { return txStop_ || !txPending_.empty(); });
        if (txStop_) {
            return;
        }
        const long written = port_.WriteSome(txPending_.data(), txPending_.size());
        if (written > 0) {
            txPending_.erase(txPending_.begin(), txPending_.begin() + written);
            continue;
        }
        if (written < 0) {
            FailOutput();
            continue;
        }
        lock.unlock();
        // Closing: Close set txStop_ before it closed the port, and the loop ends at its top
        // (a port closed behind the link's back fails the next write instead).
        const WaitResult ready = port_.WaitWritable();
        lock.lock();
        if (ready == WaitResult::Failed && !txStop_) {
            FailOutput();
        }
    }
}

bool CBssComm::ArmReceiveWait() {
    return port_.IsOpen();
}

WaitResult CBssComm::WaitForInput() {
    return port_.WaitForInput();
}

void CBssComm::BeginBurst() {
    std::lock_guard<std::mutex> guard(rxLock);
    receiver_.Clear();
}

int CBssComm::SendFrame(const uint8_t* request, uint16_t length) {
    const uint16_t n = std::min<uint16_t>(length, kMaxRequestLength);
    // Resending the last request passes lastRequest itself.
    if (request != lastRequest) {
        std::memcpy(lastRequest, request, n);
    }
    lastRequestLength = n;
    uint8_t frame[kFrameWorkSize];
    const size_t frameLength = EncodeFrame(lastRequest, n, frameMode.load() == 1, frame);
    return Write(frame, static_cast<int>(frameLength));
}

int CBssComm::ProcessReceived(const uint8_t* bytes, int length, int entry) {
    if (bytes == nullptr || length <= 0) {
        return 1;
    }
    std::lock_guard<std::mutex> guard(rxLock);
    const auto outcome = receiver_.Feed(bytes, static_cast<size_t>(length), frameMode.load() == 1);
    switch (outcome) {
        case FrameReceiver::Outcome::Overflow:
            return 0;
        case FrameReceiver::Outcome::NeedMore:
            return 1;
        case FrameReceiver::Outcome::Rejected:
            PostErrorText(kBadFrameText);
            return 1;
        case FrameReceiver::Outcome::Accepted:
            break;
    }
    // A packet that does not fit responseBuffer cannot be a phone's answer (they are a few
    // bytes); it is dropped like a bad frame rather than cut into something that may look valid.
    if (receiver_.PacketLength() > kResponseBufferSize) {
        PostErrorText(kBadFrameText);
        return 1;
    }
    DeliverPacket(receiver_.Packet(), static_cast<int>(receiver_.PacketLength()), entry);
    return 1;
}

void CBssComm::DeliverPacket(const uint8_t* packet, int length, int entry) {
    const size_t n = std::min(static_cast<size_t>(std::max(length, 0)), kResponseBufferSize);
    {
        std::lock_guard<std::mutex> guard(responseLock_);
        std::memcpy(responseBuffer_, packet, n);
    }
    if (ownerWnd != nullptr) {
        ownerWnd->PostMessage(WM_RX_PACKET, static_cast<uintptr_t>(entry), 0);
    }
}

void CBssComm::CopyResponse(uint8_t* out, size_t count) const {
    std::lock_guard<std::mutex> guard(responseLock_);
    std::memcpy(out, responseBuffer_, std::min(count, kResponseBufferSize));
}

void CBssComm::PostText(int type, const std::string& text) {
    if (text.empty() || textQueue == nullptr) {
        return;
    }
    textQueue->Add(type, text);
    if (ownerWnd != nullptr) {
        ownerWnd->PostMessage(WM_TEXT_QUEUED, static_cast<uintptr_t>(entryIndex.load()), 0);
    }
}

void CBssComm::PostErrorText(const std::string& text) {
    PostText(TEXT_ERROR, text);
}

void CBssComm::PostProgressText(const std::string& text) {
    PostText(TEXT_PROGRESS, text);
}

void CBssComm::SendRequest(const uint8_t* request, uint16_t length, const char* text) {
    PostProgressText(text);
    frameMode.store(1);
    SendFrame(request, length);
}

void CBssComm::RequestDownloadStart() {
    const uint8_t request[] = {REQ_DL_START};
    SendRequest(request, sizeof request, "다운로드 시작 요청");
}

void CBssComm::RequestJump() {
    const uint8_t request[] = {REQ_JUMP};
    SendRequest(request, sizeof request, "Jump 요청");
}

void CBssComm::RequestFlashErase(uint32_t startAddress, uint32_t length) {
    uint8_t request[9] = {REQ_FLASH_ERASE};
    PutLe32(request + 1, startAddress);
    PutLe32(request + 5, length);
    SendRequest(request, sizeof request, kEraseText);
}

void CBssComm::RequestFlashErase2(uint32_t area, uint32_t length) {
    uint8_t request[9] = {REQ_FLASH_ERASE2};
    PutLe32(request + 1, area);
    PutLe32(request + 5, length);
    SendRequest(request, sizeof request, kEraseText);
}

void CBssComm::SendRawBlock(const BlockRecord& record) {
    frameMode.store(1);
    if (record.data != nullptr) {
        Write(record.data, record.length);
    }
}

void CBssComm::SendImageBlock(const BlockRecord& record) {
    SendRawBlock(record);
    const uint16_t value = record.data != nullptr ? BlockCheckValue(record.data, record.length) : 0;
    expectedAck[0] = static_cast<uint8_t>(value >> 8);
    expectedAck[1] = static_cast<uint8_t>(value & 0xFF);
}

void CBssComm::SendImageBlockExpecting(const BlockRecord& record, uint16_t checkValue) {
    SendRawBlock(record);
    expectedAck[0] = static_cast<uint8_t>(checkValue >> 8);
    expectedAck[1] = static_cast<uint8_t>(checkValue & 0xFF);
}

bool CBssComm::CheckBlockAck(uint8_t byte1, uint8_t byte2) const {
    return byte1 == expectedAck[0] && byte2 == expectedAck[1];
}

void CBssComm::ResendLastRequest() {
    SendFrame(lastRequest, lastRequestLength);
    PostProgressText(kResendText);
}

}  // namespace tarnflow
