#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/DloadFile.h"
#include "engine/DownloadSelection.h"
#include "engine/EngineHost.h"
#include "engine/EntryRecord.h"
#include "engine/PerfMonitor.h"
#include "engine/ProgressFormat.h"
#include "engine/UpdateTiming.h"
#include "platform/Clock.h"
#include "platform/Messages.h"

namespace tarnflow {

inline constexpr int kMaxRuns = 128;
inline constexpr uint32_t kCompareWindow = 0x20000;

struct CompareRun {
    int start = 0;
    int count = 0;
};

// One serial device as port discovery lists it: its name (driver and identity) and port name.
struct DeviceMapEntry {
    std::string deviceName;
    std::string portName;  // "COM%d"
};

// The download engine of the main window: twenty entries, the download they run together, the
// responses and time-outs that drive them, and the differential compare. User-interface thread
// only; receive threads reach it through posted messages (OnMessage) and the text queues.
class CDloadEngine {
  public:
    CDloadEngine(IEngineHost& host, IClock& clock);
    ~CDloadEngine();
    CDloadEngine(const CDloadEngine&) = delete;
    CDloadEngine& operator=(const CDloadEngine&) = delete;

    // Window start-up: entries reset, load monitor opened, the load and update timers started.
    void OnInitDialog(const std::string& loadSource = CPerfMonitor::kDefaultSource);
    // Window closing: every entry closed, its receive thread joined.
    void OnClose();

    // Posted notifications and window timers.
    void OnMessage(const Message& message);
    void OnTimer(uint32_t id);

    // Download start.
    void OnDownload();
    bool OpenEntry(int i);
    bool StartEntryLink(int i);
    void CloseEntry(int i);
    void ResetEntryCounters(int i);
    bool PrepareImage();
    bool AdvanceImage();
    void AnnounceImage(int kind, int bootChange);
    void QueueEntryText(int i, int type, const std::string& text);
    void SetEntryTimer(int i, int kind, int ms);

    // Download sequence.
    int OnRxPacket(int i);
    void DownloadSub(int i);
    void SendBlock(int i);
    void EndPhase(int i);
    bool BlockInFlight(int i) const;

    // Response handling.
    bool EvaluateResponse(int i);
    void RetryTransfer(int i);

    // Time-outs and the update timer.
    void OnEntryTimeout(int i);
    void OnLoadSample();
    int OnKickIdle(int count);
    void ShowElapsedTime();
    bool IsAnyEntryBusy() const;

    // Display and entry housekeeping.
    void ResetAllEntries();
    int OnRxThreadEnd(int i);
    int OnTextQueued(int i);
    void OnUpdateProgress(int i);
    void RefreshEntryProgress(int i);
    ProgressView DescribeProgress(int entry, int stage) const;
    bool ValidateFontAddress();

    // Port discovery.
    void OnPortSearch(const std::vector<DeviceMapEntry>& deviceMap, const std::string& tag);
    void OnPortArrival(const std::string& portName);
    void OnPortRemoval(const std::string& portName);

    // Differential compare.
    void OnCompare();
    static bool WindowsEqual(const std::vector<uint8_t>& a, size_t lengthA,
                             const std::vector<uint8_t>& b, size_t lengthB);
    int SumRunBlocks(int n) const;

    // Stops the download at once (a signal to the command line): every entry still running
    // becomes Interrupted and sends nothing more; the ports stay open until OnClose.
    void InterruptDownload();

    // True from a started download until no entry can still finish.
    bool DownloadRunning() const { return downloadRunning_; }

    // The download's counts, taken from the entries themselves so that no event can leave them
    // out of step with what they count.
    int connectedCount() const;  // entries with a port
    int activeCount() const;     // entries still downloading, with a port and an open link
    int phaseDoneCount() const;  // active entries that finished the current image or run

    IEngineHost& Host() { return host_; }

    std::array<EntryRecord, kEntryCount> entries;
    DownloadSelection selection;
    // What the latest Download was asked for: when, and the port of every entry then.
    std::chrono::system_clock::time_point downloadStartTime;
    std::array<int, kEntryCount> downloadPorts{};

    int currentKind = 0;
    uint32_t m_dwImageSize = 0;
    uint32_t blockBase = 0;
    uint32_t eraseStart = 0;
    uint32_t byteCount = 0;
    int blockCount = 0;
    int64_t startClock = 0;
    int m_nProgressRefreshMs = 500;

    std::array<CompareRun, kMaxRuns> runTable{};
    int runCount = 0;
    int runCursor = 0;
    int chunkIndex = 0;

    int cpuLoad = 0;
    UpdateIntervalLadder ladder;
    CPerfMonitor perfMonitor;
    CDloadFile image;
    CDloadFile oldImage;

  private:
    bool SendBlockAt(int i, int index);
    void ShortPhaseEnd(int i);
    void ReleasePhase(bool showCompletion);
    void StartNextImage();
    void SendFinalJumps(bool showCompletion);
    bool IsStraggler(const EntryRecord& e) const;
    void DropStragglers();
    void MarkFailed(int i);
    void ReleaseLink(int i);
    void CloseStaleLinks();
    bool RetryAfterBadAnswer(int i);
    void GiveUpTransfer(int i);
    void EndOnLostOutput(int i);
    void FailRunningEntries();
    void CheckDownloadProgress();
    void EndDownload();
    void ApplyRunGeometry(int run);
    bool CompareFiles(const std::string& newPath, const std::string& oldPath);
    void ExtendRun(std::FILE* newFile, std::FILE* oldFile, uint64_t newLength);
    uint32_t BlockAddress(int index) const {
        return blockBase + static_cast<uint32_t>(index) * 1024u;
    }

    IEngineHost& host_;
    IClock& clock_;
    bool downloadRunning_ = false;
    // The runs the running compare download started with; a Compare meanwhile builds the table
    // for the next download.
    std::vector<CompareRun> downloadRuns_;
    int64_t lastKickTick_ = 0;
    std::array<int64_t, kEntryCount> lastRefresh_{};
    int lastShownMinutes_ = 0;
    int lastShownSeconds_ = 0;
};

}  // namespace tarnflow
