#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/DloadEngine.h"
#include "platform/Clock.h"
#include "platform/MessageLoop.h"
#include "support/PtyPair.h"

namespace tarnflow::testing {

using Bytes = std::vector<uint8_t>;
using Text = std::pair<int, std::string>;  // status text type and text

inline constexpr auto kExpectLimit = std::chrono::seconds(3);
inline constexpr auto kSilenceLimit = std::chrono::milliseconds(80);

// The window as the engine sees it, on a headless loop: timers and posts go to the loop, message
// boxes are recorded and answered from a script, the display calls are recorded.
class TestHost : public IEngineHost {
  public:
    explicit TestHost(MessageLoop& loop);

    void PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    int MessageBox(const std::string& text, MessageBoxStyle style) override;
    void SetTimer(uint32_t id, int intervalMs) override { loop_.SetTimer(id, intervalMs); }
    void KillTimer(uint32_t id) override { loop_.KillTimer(id); }
    void ShowEntryProgress(int entry, int stage, bool redraw) override;
    void UpdateEntryLabels() override { ++labelUpdates; }
    void ResetProgressBars() override { ++progressResets; }
    void AppendStatusItem(int entry, const CTextQItem& item) override;
    void SetElapsedText(const std::string& text) override { elapsedTexts.push_back(text); }
    void UpdateData(bool) override {}

    // Answers for the next Yes/No boxes, in order; without one a question is answered No.
    void AnswerNext(int answer) { answers_.push_back(answer); }
    std::vector<std::string> BoxTexts() const;

    struct Box {
        std::string text;
        MessageBoxStyle style;
    };
    std::vector<Box> boxes;
    std::array<int, kEntryCount> lastStage;  // -1 until the entry is first shown
    std::array<std::vector<CTextQItem>, kEntryCount> log;
    std::vector<std::string> elapsedTexts;
    int labelUpdates = 0;
    int progressResets = 0;

  private:
    MessageLoop& loop_;
    std::deque<int> answers_;
};

// One thing the engine wrote to a phone's line.
struct WireItem {
    enum class Kind { Nothing, Request, Block, Retry };
    Kind kind = Kind::Nothing;
    Bytes bytes;        // a request's decoded bytes without its FCS, or the raw block
    bool fcsOk = true;  // requests: the FCS matched
    uint8_t Code() const { return bytes.empty() ? 0 : bytes[0]; }
};

// Takes the next complete item off the front of what the engine wrote: a framed request (its
// zero fill skipped) or a raw 1024-byte block. Nothing while the item is still incomplete.
std::optional<WireItem> TakeWireItem(std::deque<uint8_t>& pending);

// The phone side of one pseudo-terminal: takes apart what the engine wrote (framed requests,
// raw 1024-byte blocks, the Retry Packet) and writes framed answers.
class ScriptedPhone {
  public:
    explicit ScriptedPhone(PtyPair& pty) : pty_(pty) {}

    // The next item on the line; Nothing when none began within `limit` (real time).
    WireItem Next(std::chrono::milliseconds limit = kExpectLimit);
    // True when nothing more arrives within `limit`.
    bool Silent(std::chrono::milliseconds limit = kSilenceLimit);
    // Writes 7E payload 7E, with 7D 7E 7F 11 13 escaped.
    bool Send(const Bytes& payload);

    static Bytes Frame(const Bytes& payload);
    // The acknowledgement of a block: 02 and its check value, high byte first.
    static Bytes AckFor(const Bytes& block);

  private:
    bool Fill(size_t count, std::chrono::steady_clock::time_point deadline);

    PtyPair& pty_;
    std::deque<uint8_t> pending_;
};

inline const Bytes kAck = {ACK, ACK_FCS_LOW, ACK_FCS_HIGH};

// Image bytes whose blocks never begin like a frame (7E, 7F) or like the Retry Packet (01).
Bytes PatternImage(size_t size, uint8_t seed);
// A Phone Code image with a valid trailer: marker FF 1D 00, version 1, the start address.
Bytes PhoneCodeImage(size_t size, uint32_t startAddress, uint8_t seed = 0);
// Rewrites the last two bytes of the block at `offset` so that its check value is `value`.
void ForceBlockCheckValue(Bytes& image, size_t offset, uint16_t value);
Bytes BlockAt(const Bytes& image, size_t offset);
Bytes Le32(uint32_t value);

// An engine on a virtual clock, its phones on pseudo-terminals, its images in a temp folder.
class EngineFixture : public ::testing::Test {
  protected:
    EngineFixture();
    ~EngineFixture() override;

    // Entries 0 to n-1 each get a pseudo-terminal.
    void Connect(int n);
    ScriptedPhone& Phone(int i) { return *phones_[static_cast<size_t>(i)]; }
    // Entries a and b trade phones, as when Port Search hands their ports out the other way.
    void SwapPhones(int a, int b) {
        std::swap(ptys_[static_cast<size_t>(a)], ptys_[static_cast<size_t>(b)]);
        std::swap(phones_[static_cast<size_t>(a)], phones_[static_cast<size_t>(b)]);
    }
    PtyPair& Pty(int i) { return *ptys_[static_cast<size_t>(i)]; }

    std::string WriteFile(const std::string& name, const Bytes& bytes);
    // Selects the Phone Code (NEW) image `bytes` for the download.
    void SelectPhoneCode(const Bytes& bytes, bool bootChange = false);

    // Waits (a real-time safety net) until a response packet for entry i has been handled.
    bool WaitForPacket(int i);
    // The phone of entry i answers; returns once the engine has handled the answer.
    void Respond(int i, const Bytes& payload);

    // Reads the next item of entry i's line and checks it is a request with `code`.
    Bytes ExpectRequest(int i, uint8_t code);
    // Reads the next item and checks it is an image block; returns its bytes.
    Bytes ExpectBlock(int i);
    void AckRequest(int i, uint8_t code);
    // Reads the next block, checks it against `expected` when given, acknowledges it.
    Bytes AckBlock(int i, const Bytes* expected = nullptr);
    // REQ_DL_START and REQ_JUMP acknowledged; returns the erase request, left unanswered.
    Bytes RunToErase(int i);

    // Entry i's status texts so far: those the engine moved into the log, then those still
    // queued (moved into the log here).
    std::vector<Text> Texts(int i);
    std::vector<std::string> TextStrings(int i);
    void ClearTexts(int i);

    // The processor counters the load monitor reads; AddLoad(percent) adds 100 ticks, `percent`
    // of them busy.
    void WriteStat();
    void AddLoad(int percent);

    VirtualClock clock;
    MessageLoop loop{clock, &clock};
    TestHost host{loop};
    std::string dir;
    std::string statPath;

  private:
    std::vector<std::unique_ptr<PtyPair>> ptys_;
    std::vector<std::unique_ptr<ScriptedPhone>> phones_;
    uint64_t statBusy_ = 100;
    uint64_t statIdle_ = 100;

  protected:
    std::array<int, kEntryCount> packets{};  // response packets handled, per entry
    // Last, so that it goes first: its links and receive threads stop before the phones go.
    CDloadEngine engine{host, clock};
};

}  // namespace tarnflow::testing
