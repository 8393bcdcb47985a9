// Randomized scenarios of the download engine: 3 to 20 phones on pseudo-terminals, each played
// by a boot loader model (ScenarioPhone) with its own timing and faults, one to three downloads
// in the same engine, phones leaving and arriving, Port Search between downloads. Time runs on
// the virtual clock only; the answers travel through the real receive threads.
//
// The promises checked:
//   - after every event: an entry still downloading and not waiting for the others has its
//     timer armed (else it would wait for ever), an entry that is not downloading has none, every
//     downloading entry holds a port and an open link, phaseDoneCount() <= activeCount(), and
//     DownloadRunning() is true exactly while an entry downloads;
//   - every download ends (bounded in events, virtual time and in what one phone is sent);
//   - an entry that completed belongs to a phone whose flash holds every block of every image
//     at its place, and that phone was told to start it;
//   - a phone that answered everything soundly and in time, and stayed, completed, unless the
//     system's rule for stragglers let it go: it had not been sent the image's erase yet when
//     the first phone finished the image (docs/reliability.md).
//
// Seeds: a fixed list of TARNFLOW_SCENARIO_SEEDS (default kDefaultSeeds) seeds, one test each
// (Scenario/EngineScenario.Run/SeedN); run one with --gtest_filter='*/SeedN'. A failure names
// the seed, the download, the event and shows the engine's entries and the last events.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "EngineHarness.h"
#include "ScenarioPhone.h"
#include "platform/PortNames.h"

namespace tarnflow {
namespace {

using testing::Bytes;
using testing::ScenarioPhone;
using testing::WireItem;

constexpr int kDefaultSeeds = 12;
constexpr int kMaxPhones = 20;
// A download that has not ended after this much virtual time or this many events never will:
// the longest legitimate one (three unanswered jumps, a ten-minute erase, per image) is far
// shorter.
constexpr int64_t kDownloadLimitMs = 2 * 60 * 60 * 1000;
constexpr int kEventLimit = 100000;
// What the engine may send one phone in one download: a few dozen items with every retry the
// engine is allowed; more means it asks again and again without end.
constexpr int kItemLimit = 300;
// Real-time safety net for the engine's threads to deliver what the test already put on a line.
constexpr auto kRealLimit = std::chrono::seconds(5);
constexpr size_t kLogLength = 40;
constexpr uint8_t kXon = 0x11;
const std::string kDeviceTag = "tfusbmd";

__attribute__((format(printf, 1, 2))) std::string Fmt(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

const char* StepName(int step) {
    switch (step) {
        case DL_START:
            return "DL_START";
        case DL_START2:
            return "DL_START2";
        case DL_BOOT_ERASE:
            return "DL_BOOT_ERASE";
        case DL_BOOT_PROGRAM:
            return "DL_BOOT_PROGRAM";
        case DL_ERASE:
            return "DL_ERASE";
        case DL_PROGRAM:
            return "DL_PROGRAM";
        case DL_WAIT:
            return "DL_WAIT";
        case DL_RESET:
            return "DL_RESET";
        case DL_RUN_END:
            return "DL_RUN_END";
        default:
            return "step?";
    }
}

const char* OutcomeName(EntryOutcome outcome) {
    switch (outcome) {
        case EntryOutcome::None:
            return "None";
        case EntryOutcome::Running:
            return "Running";
        case EntryOutcome::Completed:
            return "Completed";
        case EntryOutcome::Failed:
            return "Failed";
        case EntryOutcome::Interrupted:
            return "Interrupted";
    }
    return "?";
}

// The window as the engine sees it (TestHost), plus what the scenario needs: when each timer
// fires next, so that the clock can be moved to exactly the next timer, and the operator's
// answer to the one Yes/No question being asked now (none: No).
class ScenarioHost : public testing::TestHost {
  public:
    ScenarioHost(MessageLoop& loop, IClock& clock) : TestHost(loop), clock_(clock) {}

    void SetTimer(uint32_t id, int intervalMs) override {
        TestHost::SetTimer(id, intervalMs);
        timers_[id] = Timer{clock_.NowMs(), std::max(intervalMs, 1)};
    }
    void KillTimer(uint32_t id) override {
        TestHost::KillTimer(id);
        timers_.erase(id);
    }
    int MessageBox(const std::string& text, MessageBoxStyle style) override {
        const bool question =
            style == MessageBoxStyle::YesNo || style == MessageBoxStyle::YesNoExclamationModal;
        if (question && yesNo) {
            boxes.push_back(Box{text, style});
            return *yesNo;
        }
        return TestHost::MessageBox(text, style);
    }

    // When timer `id` fires next (timers are periodic from the moment they were set);
    // INT64_MAX when it is not armed.
    int64_t NextDueOf(uint32_t id) const {
        const auto it = timers_.find(id);
        if (it == timers_.end()) {
            return INT64_MAX;
        }
        const int64_t periods = (clock_.NowMs() - it->second.setMs) / it->second.intervalMs + 1;
        return it->second.setMs + periods * it->second.intervalMs;
    }
    // When the next timer fires: entry timers only, or all.
    int64_t NextDue(bool entriesOnly) const {
        int64_t next = INT64_MAX;
        for (const auto& [id, timer] : timers_) {
            if (!entriesOnly || id < static_cast<uint32_t>(kEntryCount)) {
                next = std::min(next, NextDueOf(id));
            }
        }
        return next;
    }

    std::optional<int> yesNo;

  private:
    struct Timer {
        int64_t setMs;
        int64_t intervalMs;
    };
    IClock& clock_;
    std::map<uint32_t, Timer> timers_;
};

// How a phone behaves for the whole scenario.
enum class Profile {
    Sound,     // quick, never a fault
    Slow,      // slow answers (within the time-outs) and slow erases, never a fault
    Flaky,     // now and then a fault of any kind
    Damaging,  // every answer damaged, from the start or after a few
    Refusing,  // every answer one refusal, from the start or after a few
    Silent     // answers a few items, then nothing
};

const char* ProfileName(Profile profile) {
    switch (profile) {
        case Profile::Sound:
            return "sound";
        case Profile::Slow:
            return "slow";
        case Profile::Flaky:
            return "flaky";
        case Profile::Damaging:
            return "damaging";
        case Profile::Refusing:
            return "refusing";
        case Profile::Silent:
            return "silent";
    }
    return "?";
}

// What happens to one answer on its way out of the phone.
enum class Fault {
    None,
    Lose,               // carried out, the answer never sent
    Damage,             // carried out, the answer's last byte altered
    Late,               // carried out, answered after the engine's time-out
    Xoff,               // carried out, XOFF in front of the answer; XON later or never
    NakResend,          // A1 00 00, refused
    MismatchYes,        // A2 00 00, carried out; the operator goes on
    MismatchNo,         // A2 00 00, carried out; the operator stops
    InvalidCmd,         // A3 9E 4C, refused
    InvalidCmdDamaged,  // A3 with other bytes, refused
    Failed,             // A4 00 00, refused
    FailedDamaged,      // A4 with other bytes, refused
    Unknown             // a code the engine does not know, refused
};

const char* FaultName(Fault fault) {
    switch (fault) {
        case Fault::None:
            return "";
        case Fault::Lose:
            return "LOST";
        case Fault::Damage:
            return "DAMAGED";
        case Fault::Late:
            return "LATE";
        case Fault::Xoff:
            return "XOFF+";
        case Fault::NakResend:
            return "A1 00 00";
        case Fault::MismatchYes:
            return "A2 00 00 (Yes)";
        case Fault::MismatchNo:
            return "A2 00 00 (No)";
        case Fault::InvalidCmd:
            return "A3 9E 4C";
        case Fault::InvalidCmdDamaged:
            return "A3 damaged";
        case Fault::Failed:
            return "A4 00 00";
        case Fault::FailedDamaged:
            return "A4 damaged";
        case Fault::Unknown:
            return "unknown code";
    }
    return "?";
}

bool Refuses(Fault fault) {
    switch (fault) {
        case Fault::NakResend:
        case Fault::InvalidCmd:
        case Fault::InvalidCmdDamaged:
        case Fault::Failed:
        case Fault::FailedDamaged:
        case Fault::Unknown:
            return true;
        default:
            return false;
    }
}

void WriteImage(const std::string& path, const Bytes& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    EXPECT_TRUE(file.good()) << path;
}

std::string Describe(const Bytes& payload) {
    std::string text;
    for (uint8_t byte : payload) {
        text += Fmt("%s%02X", text.empty() ? "" : " ", byte);
    }
    return text;
}

// Something a phone does at a moment of virtual time.
struct Action {
    enum class Kind { Answer, Xon, Unplug };
    Kind kind = Kind::Answer;
    int64_t dueMs = 0;
    Bytes payload;
    bool xoffFirst = false;
    std::optional<int> operatorAnswer;  // to the model-mismatch question this answer raises
    bool finishesImage = false;         // the sound answer to the last block of an image
    std::string what;
};

struct PhoneSlot {
    int number = 0;  // P<number> in the log
    int com = 0;
    Profile profile = Profile::Sound;
    Fault refusal = Fault::None;  // Refusing: the one it gives
    std::unique_ptr<ScenarioPhone> phone;
    std::deque<Action> actions;  // by due time
    int64_t busyUntilMs = 0;     // the loader handles one item after the other
    int64_t paceMs = 100;        // how quickly it answers a request
    bool xoffHeld = false;

    // The current download.
    int entry = -1;  // the entry it took part as; -1: not part of it
    bool sound = true;
    bool erasing = false;    // has the erase of the current image (or run)
    bool straggler = false;  // had not got that far when the first phone finished an image
    int items = 0;
    int answers = 0;
    int faultsFrom = 0;  // Damaging, Refusing, Silent: the first answer that goes wrong
    std::optional<int> unplugAfterItems;
    int64_t unplugDelayMs = 0;
};

// One image as it must end up in a phone's flash.
struct Region {
    std::string name;
    uint32_t address = 0;
    Bytes bytes;  // whole blocks
};

struct Plan {
    std::string text;
    bool needsYes = false;  // the code's start address raises a question at load
    bool compare = false;
    std::vector<Region> regions;
};

class ScenarioRun {
  public:
    explicit ScenarioRun(uint32_t seed) : seed_(seed), rng_(seed) {
        PortNames::ResetForTesting();
        char pattern[] = "/tmp/tarnflow-scenario-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            ADD_FAILURE() << "no temp folder";
        }
        dir_ = pattern;
        statPath_ = dir_ + "/stat";
        std::ofstream(statPath_) << "cpu  100 0 0 100 0 0 0 0\ncpu0 100 0 0 100 0 0 0 0\n";
        loop_.SetHandlers([this](const Message& message) { OnLoopMessage(message); },
                          [this](uint32_t id) { engine_.OnTimer(id); });
        engine_.OnInitDialog(statPath_);
    }

    ~ScenarioRun() {
        engine_.OnClose();
        loop_.DispatchPosted();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    void Run();

  private:
    // Randomness from the seed only, the same on every platform.
    int Uniform(int lo, int hi) { return lo + static_cast<int>(rng_() % (hi - lo + 1)); }
    bool Chance(int percent) { return static_cast<int>(rng_() % 100) < percent; }

    void OnLoopMessage(const Message& message);
    void Settle() { loop_.DispatchPosted(); }

    PhoneSlot* AddPhone();
    PhoneSlot* SlotByCom(int com);
    int PresentCount() const;
    int ListeningEntry(int com);

    Plan MakePlan(int download);
    void RunDownload(int download);
    void StartParticipants();
    void CheckRefusal(size_t boxesBefore);
    void CheckEnd(const Plan& plan);
    std::string FlashProblem(const PhoneSlot& slot, const Plan& plan);
    std::string LastTexts(int entry);
    void Aftermath();
    void BetweenDownloads();

    bool Step(bool downloadRunning);
    void AdvanceTo(int64_t ms);
    void PhoneBatch(int64_t due);
    void Unplug(PhoneSlot& slot);
    void Arrive();
    void Announce(PhoneSlot& slot);
    void PortSearch();

    void DrainAll();
    void TakeItem(PhoneSlot& slot, const WireItem& item);
    Fault ChooseFault(PhoneSlot& slot);
    int64_t AnswerDelay(const PhoneSlot& slot, const WireItem& item, bool erase);
    void Schedule(PhoneSlot& slot, Action action);
    void WaitOutputFlushed();

    void CheckInvariants();
    void NoteStragglers(const PhoneSlot& finisher);
    void Fail(const std::string& text);
    void Report(const std::string& text);
    void Log(const std::string& text);
    std::string State();
    std::string Name(const PhoneSlot& slot) const {
        return slot.com == slot.number ? Fmt("P%d", slot.number)
                                       : Fmt("P%d(COM%d)", slot.number, slot.com);
    }

    uint32_t seed_;
    std::mt19937 rng_;
    std::string dir_;
    std::string statPath_;
    bool failed_ = false;
    int download_ = 0;
    int events_ = 0;
    int xoffLeft_ = 0;
    int nextNumber_ = 1;
    std::deque<std::string> log_;
    std::vector<int64_t> arrivals_;  // virtual times of phones arriving during the download
    std::deque<Message> heldPackets_;
    std::array<int, kEntryCount> threadEnds_{};
    std::map<std::string, int> stats_;  // what the scenario did, for TARNFLOW_SCENARIO_VERBOSE
    bool idleWriteReported_ = false;
    bool imageFinished_ = false;  // a phone has finished the current image (or run)

    VirtualClock clock_;
    MessageLoop loop_{clock_, &clock_};
    ScenarioHost host_{loop_, clock_};
    std::vector<std::unique_ptr<PhoneSlot>> slots_;
    // Last, so that it goes first: its links and threads stop before the phones go.
    CDloadEngine engine_{host_, clock_};
};

// Answers are held back and handed to the engine in the order the scenario chose; every other
// message goes through at once.
void ScenarioRun::OnLoopMessage(const Message& message) {
    if (message.message == WM_RX_PACKET) {
        heldPackets_.push_back(message);
        return;
    }
    engine_.OnMessage(message);
    if (message.message == WM_RX_THREAD_END && message.wParam < kEntryCount) {
        ++threadEnds_[message.wParam];
    }
}

PhoneSlot* ScenarioRun::AddPhone() {
    auto slot = std::make_unique<PhoneSlot>();
    slot->number = nextNumber_++;
    slot->phone = std::make_unique<ScenarioPhone>(dir_ + "/phone" + std::to_string(slot->number));
    if (!slot->phone->Valid()) {
        Fail("no phone: " + slot->phone->Error());
        return nullptr;
    }
    // COM<n> for P<n>: the same names on every run of the seed.
    slot->com = PortNames::NumberFor(slot->phone->DevicePath(), slot->number);
    if (slot->com == 0) {
        Fail("no port number for " + slot->phone->DevicePath());
        return nullptr;
    }
    const int roll = Uniform(0, 99);
    slot->profile = roll < 45   ? Profile::Sound
                    : roll < 60 ? Profile::Slow
                    : roll < 88 ? Profile::Flaky
                    : roll < 92 ? Profile::Damaging
                    : roll < 96 ? Profile::Refusing
                                : Profile::Silent;
    static constexpr Fault kRefusals[] = {Fault::NakResend, Fault::InvalidCmdDamaged,
                                          Fault::FailedDamaged, Fault::Unknown, Fault::MismatchYes};
    slot->refusal = kRefusals[Uniform(0, 4)];
    slot->paceMs = Uniform(1, 5) * 50;
    slot->busyUntilMs = clock_.NowMs();
    slots_.push_back(std::move(slot));
    return slots_.back().get();
}

PhoneSlot* ScenarioRun::SlotByCom(int com) {
    for (auto& slot : slots_) {
        if (slot->phone->Present() && slot->com == com) {
            return slot.get();
        }
    }
    return nullptr;
}

int ScenarioRun::PresentCount() const {
    int count = 0;
    for (const auto& slot : slots_) {
        count += slot->phone->Present() ? 1 : 0;
    }
    return count;
}

// The entry whose receive thread reads this port now; -1 when nobody listens (an answer then
// goes nowhere).
int ScenarioRun::ListeningEntry(int com) {
    for (int i = 0; i < kEntryCount; ++i) {
        EntryRecord& e = engine_.entries[i];
        if (e.rxThread && rxStopFlag[i].load() == 0 && e.link.portNumber == com &&
            e.link.Port().IsOpen()) {
            return i;
        }
    }
    return -1;
}

void ScenarioRun::Run() {
    // Every size from 3 to 20, the small ones more often: each port opened costs the engine's
    // 100 ms settling pause in real time.
    const int phones = Chance(25) ? Uniform(12, kMaxPhones) : Uniform(3, 11);
    xoffLeft_ = Uniform(1, 3);
    for (int k = 0; k < phones && !failed_; ++k) {
        AddPhone();
    }
    if (failed_) {
        return;
    }
    if (Chance(60)) {
        PortSearch();
    } else {
        for (size_t k = 0; k < slots_.size() && !failed_; ++k) {
            Announce(*slots_[k]);
        }
    }
    const int downloads = 1 + (Chance(60) ? 1 : 0) + (Chance(20) ? 1 : 0);
    for (download_ = 1; download_ <= downloads && !failed_; ++download_) {
        if (download_ > 1) {
            BetweenDownloads();
        }
        if (!failed_) {
            RunDownload(download_);
        }
    }
    if (std::getenv("TARNFLOW_SCENARIO_VERBOSE") != nullptr) {
        std::string text = Fmt("seed %u: %d phones at first, %d events", seed_, phones, events_);
        for (const auto& [name, count] : stats_) {
            text += Fmt(", %s %d", name.c_str(), count);
        }
        std::printf("%s\n", text.c_str());
    }
}

Plan ScenarioRun::MakePlan(int download) {
    Plan plan;
    DownloadSelection& s = engine_.selection;
    s.check.fill(0);
    for (auto& path : s.imagePath) {
        path.clear();
    }
    s.m_strFontAddress.clear();
    s.m_bChangeBootArea = 0;
    s.m_nDloadType = 0;
    // Contents differ from one download to the next, so that a block left over from an
    // earlier download is not mistaken for the new one.
    const auto codeSeed = static_cast<uint8_t>(download * 40 + Uniform(0, 39));
    const int blocks = Uniform(1, 4);
    const std::string prefix = dir_ + "/d" + std::to_string(download) + "-";
    s.check[KIND_CODE_NEW] = 1;
    const int mode = Uniform(0, 99);
    if (mode < 12) {
        // Compare: NEW differs from OLD in its only window, so the one run is the whole image.
        const Bytes code = testing::PhoneCodeImage(blocks * kBlockSize, 0, codeSeed);
        Bytes old = code;
        old[static_cast<size_t>(Uniform(1, 900))] ^= 0x5A;
        s.m_nDloadType = DOWNLOAD_COMPARE;
        s.imagePath[KIND_CODE_NEW] = prefix + "new.bin";
        s.imagePath[KIND_CODE_OLD] = prefix + "old.bin";
        WriteImage(s.imagePath[KIND_CODE_NEW], code);
        WriteImage(s.imagePath[KIND_CODE_OLD], old);
        plan.compare = true;
        plan.regions.push_back({"code", 0, code});
        plan.text = Fmt("compare, %d blocks", blocks);
        return plan;
    }
    Bytes code;
    if (mode < 37) {
        // Boot Change: the whole image from address 0, its boot area ending at the start
        // address, which is not one the loader accepts without asking.
        const uint32_t start = blocks >= 2 && Chance(50) ? 0x800 : 0x400;
        code = testing::PhoneCodeImage(blocks * kBlockSize, start, codeSeed);
        s.m_bChangeBootArea = 1;
        plan.needsYes = true;
        plan.regions.push_back({"code", 0, code});
        plan.text = Fmt("boot change at 0x%X, %d blocks", start, blocks);
    } else {
        const uint32_t start = Chance(50) ? 0 : 0x4000;
        code = testing::PhoneCodeImage(start + blocks * kBlockSize, start, codeSeed);
        plan.regions.push_back(
            {"code", start, Bytes(code.begin() + static_cast<long>(start), code.end())});
        plan.text = Fmt("code at 0x%X, %d blocks", start, blocks);
    }
    s.imagePath[KIND_CODE_NEW] = prefix + "code.bin";
    WriteImage(s.imagePath[KIND_CODE_NEW], code);
    if (Chance(40)) {
        static constexpr uint32_t kFontAddresses[] = {0x200000, 0x380000, 0x60000};
        const uint32_t address = kFontAddresses[Uniform(0, 2)];
        const int fontBlocks = Uniform(1, 4);
        // Sometimes not a whole number of blocks: the engine pads the last one with FF.
        const size_t size = static_cast<size_t>(fontBlocks) * kBlockSize -
                            static_cast<size_t>(Chance(30) ? Uniform(1, 700) : 0);
        Bytes font = testing::PatternImage(size, static_cast<uint8_t>(codeSeed + 128));
        s.check[KIND_FONT] = 1;
        s.imagePath[KIND_FONT] = prefix + "font.bin";
        WriteImage(s.imagePath[KIND_FONT], font);
        // The field holds the hex digits; the window shows the 0X in front of it.
        s.m_strFontAddress = Fmt("%X", address);
        font.resize(static_cast<size_t>(fontBlocks) * kBlockSize, 0xFF);
        plan.regions.push_back({"font", address, font});
        plan.text += Fmt(", font at 0x%X, %zu bytes", address, size);
    }
    return plan;
}

void ScenarioRun::RunDownload(int download) {
    const Plan plan = MakePlan(download);
    imageFinished_ = false;
    if (plan.compare) {
        engine_.OnCompare();
        Settle();
    }
    for (auto& slot : slots_) {
        slot->entry = -1;
        slot->erasing = false;
        slot->straggler = false;
        slot->items = 0;
        slot->answers = 0;
        // A phone still holding the line at the start is not a sound one for this download.
        slot->sound = !slot->xoffHeld;
        slot->faultsFrom = Uniform(0, 8);
        slot->unplugAfterItems.reset();
        if (Chance(10)) {
            slot->unplugAfterItems = Uniform(1, 14);
            slot->unplugDelayMs = Uniform(0, 60) * 100;
        }
    }
    arrivals_.clear();
    if (Chance(25) && PresentCount() < kMaxPhones) {
        arrivals_.push_back(clock_.NowMs() + Uniform(0, 100) * 100);
    }

    const size_t boxesBefore = host_.boxes.size();
    Log("download " + std::to_string(download) + ": " + plan.text + ", " +
        std::to_string(PresentCount()) + " phones present");
    host_.yesNo = plan.needsYes ? std::optional<int>(IDYES) : std::nullopt;
    engine_.OnDownload();
    host_.yesNo.reset();
    Settle();
    if (!engine_.DownloadRunning()) {
        CheckRefusal(boxesBefore);
        return;
    }
    StartParticipants();
    ++stats_["downloads"];
    CheckInvariants();
    DrainAll();

    const int64_t startMs = clock_.NowMs();
    const int startEvents = events_;
    while (!failed_ && engine_.DownloadRunning()) {
        if (clock_.NowMs() - startMs > kDownloadLimitMs || events_ - startEvents > kEventLimit) {
            Fail(Fmt("the download did not end: %lld ms of virtual time, %d events",
                     static_cast<long long>(clock_.NowMs() - startMs), events_ - startEvents));
            return;
        }
        for (auto& slot : slots_) {
            if (slot->items > kItemLimit) {
                Fail(Fmt("the engine sent %s %d items in one download: it asks again without end",
                         Name(*slot).c_str(), slot->items));
                return;
            }
        }
        if (!Step(true)) {
            return;
        }
    }
    if (failed_) {
        return;
    }
    Log("download " + std::to_string(download) + " ended");
    for (const auto& slot : slots_) {
        if (slot->entry >= 0) {
            ++stats_[OutcomeName(engine_.entries[slot->entry].outcome)];
            if (engine_.entries[slot->entry].outcome == EntryOutcome::Completed && !slot->sound) {
                ++stats_["completed after faults"];
            }
        }
    }
    CheckEnd(plan);
    Aftermath();
}

void ScenarioRun::StartParticipants() {
    for (int i = 0; i < kEntryCount && !failed_; ++i) {
        const EntryRecord& e = engine_.entries[i];
        if (e.outcome != EntryOutcome::Running) {
            continue;
        }
        PhoneSlot* slot = SlotByCom(e.comPort);
        if (slot == nullptr) {
            Fail(Fmt("entry %d downloads on COM%d, where no phone is", i, e.comPort));
            return;
        }
        slot->entry = i;
    }
}

// A download that did not start: only for a reason that holds.
void ScenarioRun::CheckRefusal(size_t boxesBefore) {
    std::string texts;
    bool noPhone = false;
    int openError = -1;
    for (size_t k = boxesBefore; k < host_.boxes.size(); ++k) {
        const std::string& text = host_.boxes[k].text;
        texts += "\"" + text + "\" ";
        noPhone = noPhone || text == "No Phone is connected.";
        int entry = -1;
        if (std::sscanf(text.c_str(), "COM Port(COMM%d) Open Error", &entry) == 1) {
            openError = entry;
        }
    }
    Log("download refused: " + texts);
    ++stats_["refused"];
    if (noPhone) {
        for (int i = 0; i < kEntryCount; ++i) {
            if (engine_.entries[i].comPort != 0) {
                Fail(Fmt("\"No Phone is connected.\" while entry %d holds COM%d", i,
                         engine_.entries[i].comPort));
                return;
            }
        }
        return;
    }
    if (openError >= 0 && openError < kEntryCount) {
        const int com = engine_.entries[openError].comPort;
        if (PhoneSlot* slot = SlotByCom(com)) {
            Fail(Fmt("entry %d could not open COM%d, where %s is present", openError, com,
                     Name(*slot).c_str()));
        }
        return;
    }
    Fail("the download did not start: " + texts);
}

// The promises about how a download ended. Each broken one is reported; the scenario goes on,
// since the engine itself is still in a consistent state.
void ScenarioRun::CheckEnd(const Plan& plan) {
    std::string wrongFlash;
    std::string notCompleted;
    for (const auto& slotPtr : slots_) {
        const PhoneSlot& slot = *slotPtr;
        if (slot.entry < 0) {
            continue;
        }
        const EntryRecord& e = engine_.entries[slot.entry];
        if (e.outcome == EntryOutcome::Completed) {
            const std::string problem = FlashProblem(slot, plan);
            if (!problem.empty()) {
                wrongFlash +=
                    Fmt("\n  entry %d Completed, but %s ", slot.entry, Name(slot).c_str()) +
                    problem;
            }
        }
        if (slot.sound && !slot.straggler && slot.phone->Present() &&
            e.outcome != EntryOutcome::Completed) {
            notCompleted +=
                Fmt("\n  %s (%s) -> entry %d ended %s; its last texts:", Name(slot).c_str(),
                    ProfileName(slot.profile), slot.entry, OutcomeName(e.outcome)) +
                LastTexts(slot.entry);
        }
    }
    if (!wrongFlash.empty()) {
        Report("completed phones do not hold the image:" + wrongFlash);
    }
    if (!notCompleted.empty()) {
        Report(
            "phones that answered everything soundly and in time, and were no stragglers, did "
            "not complete:" +
            notCompleted);
    }
}

std::string ScenarioRun::FlashProblem(const PhoneSlot& slot, const Plan& plan) {
    for (const Region& region : plan.regions) {
        for (size_t at = 0; at < region.bytes.size(); at += kBlockSize) {
            const Bytes expected = testing::BlockAt(region.bytes, at);
            const auto address = static_cast<uint32_t>(region.address + at);
            const Bytes* held = slot.phone->FlashBlock(address);
            if (held != nullptr && *held == expected) {
                continue;
            }
            std::string found = "nothing (erased)";
            if (held != nullptr) {
                found = "other data";
                for (const Region& other : plan.regions) {
                    for (size_t k = 0; k < other.bytes.size(); k += kBlockSize) {
                        if (testing::BlockAt(other.bytes, k) == *held) {
                            found = Fmt("block %zu of the %s", k / kBlockSize, other.name.c_str());
                        }
                    }
                }
            }
            return Fmt("holds %s at 0x%X, where block %zu of the %s belongs", found.c_str(),
                       address, at / kBlockSize, region.name.c_str());
        }
    }
    if (!slot.phone->JumpedAfterFlash()) {
        return "was never told to start its new flash (no jump after the last block)";
    }
    return {};
}

// The entry's status texts, those still queued included, the last few.
std::string ScenarioRun::LastTexts(int entry) {
    auto& log = host_.log[static_cast<size_t>(entry)];
    CTextQItem item;
    while (engine_.entries[static_cast<size_t>(entry)].textQueue.RemoveHead(item)) {
        log.push_back(item);
    }
    std::string text;
    for (size_t k = log.size() > 3 ? log.size() - 3 : 0; k < log.size(); ++k) {
        text += " \"" + log[k].text + "\"";
    }
    return text;
}

// Answers still on their way after the end reach an engine that must stay where it is.
void ScenarioRun::Aftermath() {
    const int64_t endMs = clock_.NowMs() + 30000;
    while (!failed_ && clock_.NowMs() < endMs) {
        bool pending = !arrivals_.empty();
        for (const auto& slot : slots_) {
            pending = pending || (slot->phone->Present() && !slot->actions.empty());
        }
        if (!pending || !Step(false)) {
            break;
        }
        if (engine_.DownloadRunning()) {
            Fail("the download runs again after it ended");
            return;
        }
    }
    for (auto& slot : slots_) {
        slot->actions.clear();
        if (slot->phone->Present()) {
            slot->phone->DropInput();
            if (slot->xoffHeld && Chance(50)) {
                slot->phone->SendRaw(kXon);
                slot->xoffHeld = false;
                Log(Name(*slot) + " sends XON");
            }
        }
        slot->busyUntilMs = clock_.NowMs();
    }
    arrivals_.clear();
}

void ScenarioRun::BetweenDownloads() {
    for (auto& slot : slots_) {
        if (!failed_ && slot->phone->Present() && Chance(12)) {
            Unplug(*slot);
        }
    }
    const int arrivals = Chance(35) ? Uniform(1, 2) : 0;
    for (int k = 0; k < arrivals && !failed_ && PresentCount() < kMaxPhones; ++k) {
        Arrive();
    }
    if (!failed_ && Chance(75)) {
        PortSearch();
    }
}

// One event: the next timer, the next phone actions or an arrival, whichever comes first.
// False when nothing is left to happen.
bool ScenarioRun::Step(bool downloadRunning) {
    const int64_t timer = host_.NextDue(false);
    int64_t phone = INT64_MAX;
    for (const auto& slot : slots_) {
        if (slot->phone->Present() && !slot->actions.empty()) {
            phone = std::min(phone, slot->actions.front().dueMs);
        }
    }
    const int64_t arrival = arrivals_.empty() ? INT64_MAX : arrivals_.front();
    if (downloadRunning && host_.NextDue(true) == INT64_MAX && phone == INT64_MAX &&
        arrival == INT64_MAX) {
        Fail("the download waits for ever: no entry timer is armed and no phone will act");
        return false;
    }
    if (timer == INT64_MAX && phone == INT64_MAX && arrival == INT64_MAX) {
        return false;
    }
    ++events_;
    if (timer <= phone && timer <= arrival) {
        std::string fired;
        for (int i = 0; i < kEntryCount; ++i) {
            if (host_.NextDueOf(static_cast<uint32_t>(i)) == timer) {
                fired += Fmt(" %d (%s)", i, StepName(engine_.entries[i].step));
            }
        }
        AdvanceTo(timer);
        Settle();
        if (!fired.empty()) {
            Log("time-out of entry" + fired);
        }
        CheckInvariants();
        DrainAll();
        return !failed_;
    }
    if (arrival <= phone) {
        AdvanceTo(arrival);
        arrivals_.erase(arrivals_.begin());
        if (PresentCount() < kMaxPhones) {
            Arrive();
        }
        return !failed_;
    }
    AdvanceTo(phone);
    PhoneBatch(phone);
    return !failed_;
}

void ScenarioRun::AdvanceTo(int64_t ms) {
    loop_.AdvanceBy(std::max<int64_t>(ms - clock_.NowMs(), 0));
}

// The phones whose next action is due now act together, one action each; the engine receives
// their answers in an order drawn from the seed.
void ScenarioRun::PhoneBatch(int64_t due) {
    std::vector<PhoneSlot*> ready;
    for (auto& slot : slots_) {
        if (slot->phone->Present() && !slot->actions.empty() &&
            slot->actions.front().dueMs <= due) {
            ready.push_back(slot.get());
        }
    }
    for (size_t k = ready.size(); k > 1; --k) {
        std::swap(ready[k - 1], ready[static_cast<size_t>(Uniform(0, static_cast<int>(k) - 1))]);
    }
    for (PhoneSlot* slot : ready) {
        if (slot->actions.front().kind == Action::Kind::Unplug) {
            slot->actions.pop_front();
            Unplug(*slot);
            return;
        }
    }
    struct Sent {
        PhoneSlot* slot;
        int entry;
        Action action;
    };
    std::vector<Sent> sent;
    for (PhoneSlot* slot : ready) {
        Action action = std::move(slot->actions.front());
        slot->actions.pop_front();
        if (action.kind == Action::Kind::Xon) {
            slot->phone->SendRaw(kXon);
            slot->xoffHeld = false;
            Log(Name(*slot) + " sends XON");
            continue;
        }
        const int entry = ListeningEntry(slot->com);
        if (entry < 0) {
            Log(Name(*slot) + " answers " + action.what + " to nobody");
            continue;
        }
        if (!slot->phone->SendAnswer(action.payload, action.xoffFirst)) {
            Fail("cannot write to " + Name(*slot));
            return;
        }
        if (action.xoffFirst) {
            slot->xoffHeld = true;
        }
        sent.push_back(Sent{slot, entry, std::move(action)});
    }
    // Every answer of the batch is on its way; all must have arrived before the first is
    // handled, since handling one may close the entry of another.
    const auto deadline = std::chrono::steady_clock::now() + kRealLimit;
    for (;;) {
        std::array<int, kEntryCount> held{};
        for (const Message& message : heldPackets_) {
            ++held[message.wParam];
        }
        const auto missing = std::find_if(sent.begin(), sent.end(),
                                          [&](const Sent& s) { return held[s.entry]-- <= 0; });
        if (missing == sent.end()) {
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            Fail(Fmt("%s answered, but entry %d never received it", Name(*missing->slot).c_str(),
                     missing->entry));
            return;
        }
        loop_.WaitAndDispatch(std::chrono::milliseconds(5));
    }
    // The engine gets the answers in the order drawn above.
    for (Sent& s : sent) {
        const auto held = std::find_if(
            heldPackets_.begin(), heldPackets_.end(),
            [&](const Message& m) { return m.wParam == static_cast<uintptr_t>(s.entry); });
        const Message message = *held;
        heldPackets_.erase(held);
        ++events_;
        Log(Fmt("%s -> entry %d: %s", Name(*s.slot).c_str(), s.entry, s.action.what.c_str()));
        if (s.action.finishesImage) {
            NoteStragglers(*s.slot);
        }
        host_.yesNo = s.action.operatorAnswer;
        engine_.OnMessage(message);
        host_.yesNo.reset();
        Settle();
        CheckInvariants();
        DrainAll();
        if (failed_) {
            return;
        }
    }
    // Nothing else answers in this batch; a packet nobody expected is a test fault.
    loop_.DispatchPosted();
    if (!heldPackets_.empty()) {
        Fail(Fmt("a packet for entry %d came from no phone answer",
                 static_cast<int>(heldPackets_.front().wParam)));
    }
}

void ScenarioRun::Unplug(PhoneSlot& slot) {
    const int entry = ListeningEntry(slot.com);
    const std::string port = PortNames::PortName(slot.com);
    // The hot-plug watch reports the removal too, before or after the receive thread notices
    // the hang-up, or (the command line) not at all.
    const int notice = Uniform(0, 9);
    ++events_;
    Log(Name(slot) + " unplugged" + (entry >= 0 ? Fmt(" (entry %d listening)", entry) : ""));
    slot.sound = false;
    slot.actions.clear();
    ++stats_["unplugs"];
    // The removal notice may end the receive thread itself (the engine lets go of every link
    // when no port is left), before the hang-up does.
    const int before = entry >= 0 ? threadEnds_[entry] : 0;
    if (notice < 2) {
        engine_.OnPortRemoval(port);
        Settle();
        CheckInvariants();
    }
    slot.phone->Unplug();
    if (entry >= 0) {
        const auto deadline = std::chrono::steady_clock::now() + kRealLimit;
        while (threadEnds_[entry] == before) {
            if (std::chrono::steady_clock::now() > deadline) {
                Fail(Fmt("the receive thread of entry %d did not end after its phone left", entry));
                return;
            }
            loop_.WaitAndDispatch(std::chrono::milliseconds(5));
        }
    }
    Settle();
    CheckInvariants();
    if (notice >= 2 && notice < 8) {
        engine_.OnPortRemoval(port);
        Settle();
        CheckInvariants();
    }
    DrainAll();
}

void ScenarioRun::Arrive() {
    if (PhoneSlot* slot = AddPhone()) {
        ++stats_["arrivals"];
        Announce(*slot);
        DrainAll();
    }
}

// The hot-plug watch reports a new port: an entry must take it while one is free.
void ScenarioRun::Announce(PhoneSlot& slot) {
    int used = 0;
    for (const auto& e : engine_.entries) {
        used += e.comPort != 0 ? 1 : 0;
    }
    ++events_;
    Log("arrival of " + Name(slot));
    engine_.OnPortArrival(PortNames::PortName(slot.com));
    Settle();
    bool placed = false;
    for (const auto& e : engine_.entries) {
        placed = placed || e.comPort == slot.com;
    }
    if (!placed && used < kEntryCount) {
        Fail(Fmt("%s arrived, but no entry took it although %d of %d hold a port",
                 Name(slot).c_str(), used, kEntryCount));
        return;
    }
    CheckInvariants();
}

void ScenarioRun::PortSearch() {
    std::vector<DeviceMapEntry> map;
    for (const auto& slot : slots_) {
        if (slot->phone->Present()) {
            map.push_back({kDeviceTag + Fmt(":%03d", slot->com), PortNames::PortName(slot->com)});
        }
    }
    if (Chance(30)) {
        map.push_back({"cdc_acm:1004:633e:ttyACM9", "COM254"});  // not a phone of ours
    }
    std::sort(map.begin(), map.end(),
              [](const auto& a, const auto& b) { return a.deviceName < b.deviceName; });
    ++events_;
    Log(Fmt("Port Search: %zu devices", map.size()));
    engine_.OnPortSearch(map, kDeviceTag);
    Settle();
    size_t next = 0;
    for (int i = 0; i < kEntryCount; ++i) {
        while (next < map.size() && map[next].deviceName.find(kDeviceTag) == std::string::npos) {
            ++next;
        }
        const std::string expected = next < map.size() ? map[next++].portName : "COM0";
        const int com = engine_.entries[i].comPort;
        if (PortNames::PortName(com) != expected) {
            Fail(Fmt("after Port Search entry %d holds COM%d, where the map says %s", i, com,
                     expected.c_str()));
            return;
        }
    }
    CheckInvariants();
}

// The system's rule for stragglers: when the first phone finishes an image, the phones still
// waiting for the answer to the start request or the jump are let go. Those are the phones that
// have not been sent the image's erase yet when the first acknowledgement of a last block
// reaches the engine.
void ScenarioRun::NoteStragglers(const PhoneSlot& finisher) {
    if (imageFinished_) {
        return;
    }
    imageFinished_ = true;
    for (auto& slot : slots_) {
        if (slot->entry >= 0 && !slot->erasing && !slot->straggler) {
            slot->straggler = true;
            ++stats_["stragglers"];
            Log(Name(*slot) + " is a straggler: " + Name(finisher) + " finished first");
        }
    }
}

// What the engine wrote reaches the phones: each takes its items and schedules its answers.
void ScenarioRun::DrainAll() {
    WaitOutputFlushed();
    for (auto& slot : slots_) {
        if (failed_) {
            return;
        }
        if (!slot->phone->Present()) {
            continue;
        }
        for (const WireItem& item : slot->phone->DrainItems()) {
            TakeItem(*slot, item);
        }
    }
}

// Output the engine handed its links reaches the line at once unless the phone holds it with
// XOFF; after XON the link's own thread writes the rest, which the phone must see before time
// moves on.
void ScenarioRun::WaitOutputFlushed() {
    for (auto& slot : slots_) {
        if (!slot->phone->Present() || slot->xoffHeld) {
            continue;
        }
        const int entry = ListeningEntry(slot->com);
        if (entry < 0) {
            continue;
        }
        const CBssComm& link = engine_.entries[entry].link;
        const auto deadline = std::chrono::steady_clock::now() + kRealLimit;
        while (link.OutputPending() && !link.OutputFailed()) {
            if (std::chrono::steady_clock::now() > deadline) {
                Fail("output to " + Name(*slot) + " stays pending although the line is free");
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

void ScenarioRun::TakeItem(PhoneSlot& slot, const WireItem& item) {
    const int64_t now = clock_.NowMs();
    if (!engine_.DownloadRunning() && !idleWriteReported_) {
        idleWriteReported_ = true;
        Report(Fmt("the engine wrote to %s while no download runs", Name(slot).c_str()));
    }
    ++slot.items;
    if (slot.unplugAfterItems && slot.items == *slot.unplugAfterItems) {
        Action unplug;
        unplug.kind = Action::Kind::Unplug;
        unplug.dueMs = now + slot.unplugDelayMs;
        unplug.what = "unplug";
        Schedule(slot, std::move(unplug));
    }
    if (item.kind == WireItem::Kind::Request && !item.bytes.empty()) {
        if (item.Code() == REQ_FLASH_ERASE) {
            slot.erasing = true;
        } else if (item.Code() == REQ_DL_START && slot.erasing) {
            slot.erasing = false;  // the next image or run begins
            imageFinished_ = false;
        }
    }
    Fault fault = ChooseFault(slot);
    const ScenarioPhone::Answer answer = slot.phone->Take(item, !Refuses(fault));
    if (!answer.payload) {
        Log(Name(slot) + " takes " + answer.what + ", no answer");
        return;
    }
    const bool erase = answer.what.rfind("REQ_FLASH_ERASE", 0) == 0;
    const int64_t start = std::max(now, slot.busyUntilMs);
    Action action;
    action.dueMs = start + AnswerDelay(slot, item, erase);
    action.payload = *answer.payload;
    switch (fault) {
        case Fault::None:
            break;
        case Fault::Lose:
            slot.busyUntilMs = action.dueMs;
            slot.sound = false;
            ++stats_[FaultName(fault)];
            Log(Name(slot) + " takes " + answer.what + ", answer LOST");
            return;
        case Fault::Damage:
            action.payload.back() ^= static_cast<uint8_t>(Uniform(1, 255));
            break;
        case Fault::Late:
            action.dueMs = start + Uniform(52, 90) * 100;
            break;
        case Fault::Xoff:
            action.xoffFirst = true;
            if (Chance(75)) {
                Action xon;
                xon.kind = Action::Kind::Xon;
                xon.dueMs = action.dueMs + Uniform(1, 60) * 100;
                xon.what = "XON";
                Schedule(slot, std::move(xon));
            }
            break;
        case Fault::NakResend:
            action.payload = {NAK_RESEND, 0x00, 0x00};
            break;
        case Fault::MismatchYes:
        case Fault::MismatchNo:
            action.payload = {NAK_MODEL_MISMATCH, 0x00, 0x00};
            action.operatorAnswer = fault == Fault::MismatchYes ? IDYES : IDNO;
            break;
        case Fault::InvalidCmd:
            action.payload = {NAK_INVALID_CMD, 0x9E, 0x4C};
            break;
        case Fault::InvalidCmdDamaged:
            action.payload = {NAK_INVALID_CMD, 0x9E, static_cast<uint8_t>(0x4C ^ Uniform(1, 255))};
            break;
        case Fault::Failed:
            action.payload = {NAK_FAILED, 0x00, 0x00};
            break;
        case Fault::FailedDamaged:
            action.payload = {NAK_FAILED, static_cast<uint8_t>(Uniform(0, 255)),
                              static_cast<uint8_t>(Uniform(1, 255))};
            break;
        case Fault::Unknown: {
            static constexpr uint8_t kCodes[] = {0x00, 0x05, 0x55, 0xB0, 0xFF};
            action.payload = {kCodes[Uniform(0, 4)], 0x00, 0x00};
            break;
        }
    }
    // A sound answer comes well within the shortest time-out (3 s) unless it is an erase's.
    if (fault != Fault::None) {
        ++stats_[FaultName(fault)];
    }
    if (fault != Fault::None || (!erase && action.dueMs - now >= 2900)) {
        slot.sound = false;
    }
    action.finishesImage =
        fault == Fault::None && item.kind == WireItem::Kind::Block && slot.phone->FlashComplete();
    slot.busyUntilMs = action.dueMs;
    ++slot.answers;
    action.what = answer.what + " => " + Describe(action.payload) +
                  (fault == Fault::None ? "" : std::string(" [") + FaultName(fault) + "]");
    Schedule(slot, std::move(action));
}

Fault ScenarioRun::ChooseFault(PhoneSlot& slot) {
    switch (slot.profile) {
        case Profile::Sound:
        case Profile::Slow:
            return Fault::None;
        case Profile::Damaging:
            return slot.answers >= slot.faultsFrom ? Fault::Damage : Fault::None;
        case Profile::Refusing:
            return slot.answers >= slot.faultsFrom ? slot.refusal : Fault::None;
        case Profile::Silent:
            return slot.answers >= slot.faultsFrom ? Fault::Lose : Fault::None;
        case Profile::Flaky:
            break;
    }
    if (!Chance(12)) {
        return Fault::None;
    }
    struct Weighted {
        Fault fault;
        int weight;
    };
    static constexpr Weighted kFaults[] = {
        {Fault::Lose, 20},      {Fault::Damage, 14},       {Fault::Late, 10},
        {Fault::Xoff, 10},      {Fault::NakResend, 10},    {Fault::MismatchYes, 6},
        {Fault::MismatchNo, 4}, {Fault::InvalidCmd, 4},    {Fault::InvalidCmdDamaged, 6},
        {Fault::Failed, 4},     {Fault::FailedDamaged, 6}, {Fault::Unknown, 6},
    };
    int roll = Uniform(0, 99);
    Fault fault = Fault::Lose;
    for (const auto& [candidate, weight] : kFaults) {
        if (roll < weight) {
            fault = candidate;
            break;
        }
        roll -= weight;
    }
    if (fault == Fault::Xoff) {
        if (xoffLeft_ == 0 || slot.xoffHeld) {
            return Fault::Lose;
        }
        --xoffLeft_;
    }
    return fault;
}

// Phones of a rig are alike: each answers at its own pace with some jitter, a block taking its
// line time (1024 bytes at 57600 bit/s, about 180 ms) on top; an erase takes from a tenth of a
// second to several seconds. A slow phone stays within the 3 s time-outs. Multiples of 50 ms,
// so that phones often answer at the same moment.
int64_t ScenarioRun::AnswerDelay(const PhoneSlot& slot, const WireItem& item, bool erase) {
    if (erase) {
        return slot.profile == Profile::Slow || Chance(15) ? Uniform(20, 80) * 100
                                                           : Uniform(1, 10) * 100;
    }
    const int64_t line = item.kind == WireItem::Kind::Request ? 0 : 150;
    if (slot.profile == Profile::Slow) {
        return Uniform(20, 40) * 50 + line;
    }
    return slot.paceMs * Uniform(1, 3) / 2 / 50 * 50 + line;
}

void ScenarioRun::Schedule(PhoneSlot& slot, Action action) {
    const auto at =
        std::upper_bound(slot.actions.begin(), slot.actions.end(), action.dueMs,
                         [](int64_t due, const Action& queued) { return due < queued.dueMs; });
    slot.actions.insert(at, std::move(action));
}

void ScenarioRun::CheckInvariants() {
    if (failed_) {
        return;
    }
    int running = 0;
    for (int i = 0; i < kEntryCount; ++i) {
        const EntryRecord& e = engine_.entries[i];
        const bool isRunning = e.outcome == EntryOutcome::Running;
        const bool armed = loop_.TimerArmed(static_cast<uint32_t>(i));
        running += isRunning ? 1 : 0;
        if (isRunning && e.step != DL_WAIT && !armed) {
            Fail(Fmt("entry %d downloads in %s without a timer: it would wait for ever", i,
                     StepName(e.step)));
            return;
        }
        if (!isRunning && armed) {
            Fail(Fmt("entry %d is %s, but its timer is armed", i, OutcomeName(e.outcome)));
            return;
        }
        if (isRunning && (e.comPort == 0 || !e.linkOpen)) {
            Fail(Fmt("entry %d downloads with COM%d and link %s", i, e.comPort,
                     e.linkOpen ? "open" : "closed"));
            return;
        }
    }
    if (engine_.phaseDoneCount() > engine_.activeCount()) {
        Fail(Fmt("phaseDoneCount() %d > activeCount() %d", engine_.phaseDoneCount(),
                 engine_.activeCount()));
        return;
    }
    if (engine_.DownloadRunning() != (running > 0)) {
        Fail(Fmt("DownloadRunning() is %s while %d entries download",
                 engine_.DownloadRunning() ? "true" : "false", running));
        return;
    }
}

// A broken promise after which the scenario cannot go on meaningfully.
void ScenarioRun::Fail(const std::string& text) {
    if (failed_) {
        return;
    }
    Report(text);
    failed_ = true;
}

void ScenarioRun::Report(const std::string& text) {
    std::string events;
    for (const auto& line : log_) {
        events += "  " + line + "\n";
    }
    ADD_FAILURE() << "seed " << seed_ << ", download " << download_ << ", event " << events_
                  << ", t=" << clock_.NowMs() << " ms: " << text << "\n"
                  << State() << "last events:\n"
                  << events;
}

void ScenarioRun::Log(const std::string& text) {
    log_.push_back(Fmt("#%d t=%lld ", events_, static_cast<long long>(clock_.NowMs())) + text);
    if (log_.size() > kLogLength) {
        log_.pop_front();
    }
}

std::string ScenarioRun::State() {
    std::string text = Fmt("engine: DownloadRunning %d, connected %d, active %d, phase done %d\n",
                           engine_.DownloadRunning() ? 1 : 0, engine_.connectedCount(),
                           engine_.activeCount(), engine_.phaseDoneCount());
    for (int i = 0; i < kEntryCount; ++i) {
        const EntryRecord& e = engine_.entries[i];
        const bool armed = loop_.TimerArmed(static_cast<uint32_t>(i));
        if (e.comPort == 0 && e.outcome == EntryOutcome::None && !e.linkOpen && !armed) {
            continue;
        }
        std::string phone = "-";
        for (const auto& slot : slots_) {
            if (slot->entry == i) {
                phone = Name(*slot) + " " + ProfileName(slot->profile) +
                        (slot->phone->Present() ? "" : " gone");
            }
        }
        text +=
            Fmt("  entry %2d: COM%d %-9s %-15s link %d block %d retry %d timer %s  [%s]\n", i,
                e.comPort, OutcomeName(e.outcome), StepName(e.step), e.linkOpen, e.blockIndex,
                e.retryPending,
                armed ? Fmt("%lld", static_cast<long long>(loop_.TimerInterval(i))).c_str() : "-",
                phone.c_str());
    }
    return text;
}

int SeedCount() {
    if (const char* text = std::getenv("TARNFLOW_SCENARIO_SEEDS")) {
        const int count = std::atoi(text);
        if (count > 0) {
            return count;
        }
    }
    return kDefaultSeeds;
}

class EngineScenario : public ::testing::TestWithParam<uint32_t> {};

TEST_P(EngineScenario, Run) {
    SCOPED_TRACE("seed " + std::to_string(GetParam()));
    ScenarioRun scenario(GetParam());
    scenario.Run();
}

std::string SeedName(const ::testing::TestParamInfo<uint32_t>& info) {
    return "Seed" + std::to_string(info.param);
}

INSTANTIATE_TEST_SUITE_P(Scenario, EngineScenario,
                         ::testing::Range<uint32_t>(1, static_cast<uint32_t>(SeedCount()) + 1),
                         SeedName);

// Seeds beyond the default range that caught faults of an earlier engine: counts that drifted
// (17, 20), healthy phones dropped as stragglers (69), damaged answers retried for ever (35, 70).
INSTANTIATE_TEST_SUITE_P(Regression, EngineScenario, ::testing::Values(17u, 20u, 35u, 69u, 70u),
                         SeedName);

}  // namespace
}  // namespace tarnflow
