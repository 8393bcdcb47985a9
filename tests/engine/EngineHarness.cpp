#include "EngineHarness.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "comm/Checksums.h"
#include "engine/DloadFile.h"
#include "platform/PortNames.h"

namespace tarnflow::testing {

TestHost::TestHost(MessageLoop& loop) : loop_(loop) {
    lastStage.fill(-1);
}

void TestHost::PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    loop_.Post(Message{message, wParam, lParam});
}

int TestHost::MessageBox(const std::string& text, MessageBoxStyle style) {
    boxes.push_back(Box{text, style});
    if (style != MessageBoxStyle::YesNo && style != MessageBoxStyle::YesNoExclamationModal) {
        return IDOK;
    }
    if (answers_.empty()) {
        return IDNO;
    }
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
}

void TestHost::ShowEntryProgress(int entry, int stage, bool) {
    lastStage[static_cast<size_t>(entry)] = stage;
}

void TestHost::AppendStatusItem(int entry, const CTextQItem& item) {
    log[static_cast<size_t>(entry)].push_back(item);
}

std::vector<std::string> TestHost::BoxTexts() const {
    std::vector<std::string> texts;
    for (const auto& box : boxes) {
        texts.push_back(box.text);
    }
    return texts;
}

bool ScriptedPhone::Fill(size_t count, std::chrono::steady_clock::time_point deadline) {
    while (pending_.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        const Bytes got = pty_.ReadMaster(count - pending_.size(), left);
        if (got.empty()) {
            return false;
        }
        pending_.insert(pending_.end(), got.begin(), got.end());
    }
    return true;
}

std::optional<WireItem> TakeWireItem(std::deque<uint8_t>& pending) {
    // The zero fill normally arrives with its frame; zeros at the front are the rest of one.
    while (!pending.empty() && pending.front() == 0x00) {
        pending.pop_front();
    }
    if (pending.empty()) {
        return std::nullopt;
    }
    WireItem item;
    const uint8_t first = pending.front();
    if (first == kFrameFlag || first == kRawStartFlag) {
        size_t end = 1;
        while (end < pending.size() && pending[end] != kFrameFlag) {
            ++end;
        }
        if (end == pending.size()) {
            return std::nullopt;  // the end flag is still to come
        }
        const size_t length = end + 1;
        const size_t total = std::min(length + (4 - length % 4) % 4, pending.size());
        Bytes decoded;
        for (size_t k = 1; k < end; ++k) {
            if (pending[k] == kFrameEscape && k + 1 < end) {
                decoded.push_back(static_cast<uint8_t>(pending[++k] ^ kEscapeXor));
            } else {
                decoded.push_back(pending[k]);
            }
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(total));
        item.kind = WireItem::Kind::Request;
        item.fcsOk = decoded.size() >= 2;
        if (item.fcsOk) {
            const uint16_t fcs =
                static_cast<uint16_t>(decoded[decoded.size() - 2] | decoded.back() << 8);
            decoded.resize(decoded.size() - 2);
            item.fcsOk = fcs == Fcs16(decoded.data(), decoded.size());
        }
        item.bytes = std::move(decoded);
        return item;
    }
    if (pending.size() < kBlockSize) {
        return std::nullopt;
    }
    item.bytes.assign(pending.begin(), pending.begin() + kBlockSize);
    pending.erase(pending.begin(), pending.begin() + kBlockSize);
    const bool retry =
        std::equal(kRetrySignature.begin(), kRetrySignature.end(), item.bytes.begin());
    item.kind = retry ? WireItem::Kind::Retry : WireItem::Kind::Block;
    return item;
}

WireItem ScriptedPhone::Next(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (auto item = TakeWireItem(pending_)) {
            return *item;
        }
        // A block comes whole; a frame is read up to its end flag.
        const bool block = !pending_.empty() && pending_.front() != kFrameFlag &&
                           pending_.front() != kRawStartFlag;
        if (!Fill(block ? kBlockSize : pending_.size() + 1, deadline)) {
            break;
        }
    }
    // Whatever came of an item cut short, as a block, so that a test sees what reached the line.
    WireItem partial;
    if (!pending_.empty()) {
        partial.kind = WireItem::Kind::Block;
        partial.bytes.assign(pending_.begin(), pending_.end());
        pending_.clear();
    }
    return partial;
}

bool ScriptedPhone::Silent(std::chrono::milliseconds limit) {
    return Next(limit).kind == WireItem::Kind::Nothing;
}

Bytes ScriptedPhone::Frame(const Bytes& payload) {
    Bytes frame = {kFrameFlag};
    for (uint8_t byte : payload) {
        if (byte == 0x7D || byte == 0x7E || byte == 0x7F || byte == 0x11 || byte == 0x13) {
            frame.push_back(kFrameEscape);
            frame.push_back(static_cast<uint8_t>(byte ^ kEscapeXor));
        } else {
            frame.push_back(byte);
        }
    }
    frame.push_back(kFrameFlag);
    return frame;
}

bool ScriptedPhone::Send(const Bytes& payload) {
    return pty_.WriteMaster(Frame(payload));
}

Bytes ScriptedPhone::AckFor(const Bytes& block) {
    const uint16_t value = BlockCheckValue(block.data(), block.size());
    return {ACK, static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value & 0xFF)};
}

Bytes PatternImage(size_t size, uint8_t seed) {
    Bytes image(size);
    for (size_t i = 0; i < size; ++i) {
        image[i] = static_cast<uint8_t>(i * 31 + (i >> 10) * 7 + seed);
    }
    for (size_t at = 0; at < size; at += kBlockSize) {
        image[at] = static_cast<uint8_t>(0x40 + ((at >> 10) + seed) % 0x30);
    }
    return image;
}

Bytes PhoneCodeImage(size_t size, uint32_t startAddress, uint8_t seed) {
    Bytes image = PatternImage(size, seed);
    const size_t end = image.size();
    const uint8_t marker[] = {0xFF, 0x1D, 0x00};
    std::copy(std::begin(marker), std::end(marker), image.begin() + static_cast<long>(end - 37));
    const Bytes version = Le32(1);
    std::copy(version.begin(), version.end(), image.begin() + static_cast<long>(end - 20));
    const Bytes start = Le32(startAddress);
    std::copy(start.begin(), start.end(), image.begin() + static_cast<long>(end - 16));
    return image;
}

void ForceBlockCheckValue(Bytes& image, size_t offset, uint16_t value) {
    const uint16_t head = checksums::Crc16Register(image.data() + offset, kBlockSize - 2);
    for (unsigned pair = 0; pair < 0x10000; ++pair) {
        const uint8_t tail[2] = {static_cast<uint8_t>(pair >> 8), static_cast<uint8_t>(pair)};
        if (checksums::Crc16Register(tail, 2, head) == value) {
            image[offset + kBlockSize - 2] = tail[0];
            image[offset + kBlockSize - 1] = tail[1];
            return;
        }
    }
    ADD_FAILURE() << "no tail gives check value " << value;
}

Bytes BlockAt(const Bytes& image, size_t offset) {
    return Bytes(image.begin() + static_cast<long>(offset),
                 image.begin() + static_cast<long>(offset + kBlockSize));
}

Bytes Le32(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

EngineFixture::EngineFixture() {
    char pattern[] = "/tmp/tarnflow-engine-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        ADD_FAILURE() << "no temp folder";
    }
    dir = pattern;
    statPath = dir + "/stat";
    WriteStat();
    loop.SetHandlers(
        [this](const Message& message) {
            if (message.message == WM_RX_PACKET && message.wParam < kEntryCount) {
                ++packets[message.wParam];
            }
            engine.OnMessage(message);
        },
        [this](uint32_t id) { engine.OnTimer(id); });
    engine.OnInitDialog(statPath);
}

EngineFixture::~EngineFixture() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

void EngineFixture::Connect(int n) {
    for (int i = 0; i < n; ++i) {
        ptys_.push_back(std::make_unique<PtyPair>());
        ASSERT_TRUE(ptys_.back()->Valid()) << ptys_.back()->Error();
        phones_.push_back(std::make_unique<ScriptedPhone>(*ptys_.back()));
        engine.entries[static_cast<size_t>(i)].comPort =
            PortNames::NumberFor(ptys_.back()->SlavePath());
        ASSERT_NE(engine.entries[static_cast<size_t>(i)].comPort, 0);
    }
}

std::string EngineFixture::WriteFile(const std::string& name, const Bytes& bytes) {
    const std::string path = dir + "/" + name;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    EXPECT_TRUE(file.good()) << path;
    return path;
}

void EngineFixture::SelectPhoneCode(const Bytes& bytes, bool bootChange) {
    engine.selection.check[KIND_CODE_NEW] = 1;
    engine.selection.imagePath[KIND_CODE_NEW] = WriteFile("code.bin", bytes);
    engine.selection.m_bChangeBootArea = bootChange ? 1 : 0;
}

bool EngineFixture::WaitForPacket(int i) {
    const int before = packets[static_cast<size_t>(i)];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (packets[static_cast<size_t>(i)] == before) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        loop.WaitAndDispatch(std::chrono::milliseconds(20));
    }
    return true;
}

void EngineFixture::Respond(int i, const Bytes& payload) {
    const int before = packets[static_cast<size_t>(i)];
    ASSERT_TRUE(Phone(i).Send(payload));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (packets[static_cast<size_t>(i)] == before) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no packet for entry " << i;
        loop.WaitAndDispatch(std::chrono::milliseconds(20));
    }
}

Bytes EngineFixture::ExpectRequest(int i, uint8_t code) {
    const WireItem item = Phone(i).Next();
    EXPECT_EQ(item.kind, WireItem::Kind::Request) << "entry " << i;
    EXPECT_EQ(item.Code(), code) << "entry " << i;
    EXPECT_TRUE(item.fcsOk);
    return item.bytes;
}

Bytes EngineFixture::ExpectBlock(int i) {
    const WireItem item = Phone(i).Next();
    EXPECT_EQ(item.kind, WireItem::Kind::Block) << "entry " << i;
    EXPECT_EQ(item.bytes.size(), kBlockSize);
    return item.bytes;
}

void EngineFixture::AckRequest(int i, uint8_t code) {
    ExpectRequest(i, code);
    Respond(i, kAck);
}

Bytes EngineFixture::AckBlock(int i, const Bytes* expected) {
    const Bytes block = ExpectBlock(i);
    if (expected != nullptr) {
        EXPECT_EQ(block, *expected);
    }
    Respond(i, ScriptedPhone::AckFor(block));
    return block;
}

Bytes EngineFixture::RunToErase(int i) {
    AckRequest(i, REQ_DL_START);
    AckRequest(i, REQ_JUMP);
    const WireItem item = Phone(i).Next();
    EXPECT_EQ(item.kind, WireItem::Kind::Request);
    EXPECT_TRUE(item.Code() == REQ_FLASH_ERASE || item.Code() == REQ_FLASH_ERASE2);
    return item.bytes;
}

std::vector<Text> EngineFixture::Texts(int i) {
    auto& log = host.log[static_cast<size_t>(i)];
    CTextQItem item;
    while (engine.entries[static_cast<size_t>(i)].textQueue.RemoveHead(item)) {
        log.push_back(item);
    }
    std::vector<Text> texts;
    for (const auto& entry : log) {
        texts.emplace_back(entry.type, entry.text);
    }
    return texts;
}

std::vector<std::string> EngineFixture::TextStrings(int i) {
    std::vector<std::string> strings;
    for (const auto& [type, text] : Texts(i)) {
        strings.push_back(text);
    }
    return strings;
}

void EngineFixture::ClearTexts(int i) {
    Texts(i);
    host.log[static_cast<size_t>(i)].clear();
}

void EngineFixture::WriteStat() {
    std::ofstream file(statPath, std::ios::trunc);
    file << "cpu  " << statBusy_ << " 0 0 " << statIdle_ << " 0 0 0 0\n";
    file << "cpu0 " << statBusy_ << " 0 0 " << statIdle_ << " 0 0 0 0\n";
}

void EngineFixture::AddLoad(int percent) {
    statBusy_ += static_cast<uint64_t>(percent);
    statIdle_ += static_cast<uint64_t>(100 - percent);
    WriteStat();
}

}  // namespace tarnflow::testing
