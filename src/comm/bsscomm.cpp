#include "comm/bsscomm.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/Messages.h"
#include "platform/PortNames.h"
#include "platform/Trace.h"

namespace tarnflow {

namespace {

constexpr auto kWriteTimeout = std::chrono::milliseconds(1000);
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
    {
        std::lock_guard<std::mutex> guard(rxLock);
        receiver_.Clear();
    }
    portOpen = 0;
    const std::string node = PortNames::NodeFor(portNumber);
    if (node.empty() || !port_.Open(node)) {
        Trace("Failt to open Comm\n");
        return 0;
    }
    port_.Purge();
    if (!Configure()) {
        port_.Close();
        return 0;
    }
    // Lets the line settle before the first request goes out.
    std::this_thread::sleep_for(kSettlePause);
    portOpen = 1;
    return 1;
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
    // SerialPort::Close wakes the receive thread's wait, drops DTR and RTS and purges.
    if (!port_.Close()) {
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
    if (portOpen == 0 || count < 0) {
        return 0;
    }
    if (!port_.Write(bytes, static_cast<size_t>(count), kWriteTimeout)) {
        Trace("WRITE_Error : WriteFile() in COMM\n");
        return 0;
    }
    return 1;
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
