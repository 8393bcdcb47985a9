// Entries and the start of a download.
#include <cstdio>

#include "engine/DloadEngine.h"
#include "engine/FontAddress.h"
#include "engine/OpenFailure.h"
#include "platform/FormatText.h"
#include "platform/PortNames.h"
#include "platform/Trace.h"

namespace tarnflow {

namespace {

struct ImageRow {
    int eraseArea;  // VPX area number for REQ_FLASH_ERASE2; 0 for the phone images
    const char* title;
};

ImageRow RowFor(int kind) {
    switch (kind) {
        case KIND_VPX_BOOT:
            return {1, "VPX Boot Download"};
        case KIND_VPX_CODE:
            return {2, "VPX Code Download"};
        case KIND_VPX_FONT:
            return {3, "VPX Font Download"};
        case KIND_VPX_CONTENTS:
            return {4, "VPX Contents Download"};
        case KIND_VPX_LFS:
            return {5, "VPX LFS Download"};
        case KIND_VPX_FACTORYFS:
            return {6, "VPX Factory FS Download"};
        default:
            return {0, "Phone Code Download"};
    }
}

// Names the port by its device node, or by its number when it has none.
std::string OpenFailureOf(const CBssComm& link) {
    const std::string& node = link.LastOpenNode();
    return OpenFailureText(node.empty() ? PortNames::PortName(link.portNumber) : node,
                           link.LastOpenError());
}

}  // namespace

CDloadEngine::CDloadEngine(IEngineHost& host, IClock& clock)
    : image(&host), oldImage(&host), host_(host), clock_(clock) {}

CDloadEngine::~CDloadEngine() {
    // The host may be half gone by now: stop the links and threads without telling it.
    for (auto& entry : entries) {
        entry.link.Shutdown();
        entry.rxThread.reset();
    }
}

void CDloadEngine::OnInitDialog(const std::string& loadSource) {
    ResetAllEntries();
    selection.m_nDloadType = 0;
    blockBase = eraseStart = byteCount = 0;
    selection.fontStartAddress = 0;
    perfMonitor.Open(loadSource);
    host_.ResetProgressBars();
    host_.SetTimer(ID_TIMER_CPU, 500);
    host_.SetTimer(ID_TIMER_UPDATE, ladder.Interval());
}

void CDloadEngine::OnClose() {
    for (int i = 0; i < kEntryCount; ++i) {
        CloseEntry(i);
    }
    CheckDownloadProgress();
}

void CDloadEngine::QueueEntryText(int i, int type, const std::string& text) {
    entries[i].textQueue.Add(type, text);
}

void CDloadEngine::SetEntryTimer(int i, int kind, int ms) {
    entries[i].timerKind = kind;
    entries[i].timerInterval = ms;
    host_.SetTimer(static_cast<uint32_t>(i), ms);
}

void CDloadEngine::ResetEntryCounters(int i) {
    EntryRecord& e = entries[i];
    e.blockIndex = 0;
    e.noResponseCount = 0;
    e.retryPending = 0;
    e.flashing = 0;
}

bool CDloadEngine::ValidateFontAddress() {
    host_.UpdateData(true);
    if (!selection.check[KIND_FONT]) {
        return true;
    }
    uint32_t address = 0;
    switch (ParseFontAddress(selection.m_strFontAddress, address)) {
        case FontAddressCheck::Empty:
            host_.MessageBox(kFontAddressEmptyText, MessageBoxStyle::Ok);
            return false;
        case FontAddressCheck::HasSpace:
            host_.MessageBox(kFontAddressSpaceText, MessageBoxStyle::Ok);
            return false;
        case FontAddressCheck::Ok:
            break;
    }
    selection.fontStartAddress = address;
    return true;
}

void CDloadEngine::OnDownload() {
    // The record of this download (see DownloadReport) starts here, refused or not.
    downloadStartTime = std::chrono::system_clock::now();
    for (int i = 0; i < kEntryCount; ++i) {
        downloadPorts[i] = entries[i].comPort;
        entries[i].textQueue.ClearLog();
    }
    if (connectedCount() == 0) {
        host_.MessageBox("No Phone is connected.", MessageBoxStyle::Ok);
        return;
    }
    if (!ValidateFontAddress()) {
        host_.MessageBox("Font Valid Check Error", MessageBoxStyle::Ok);
        return;
    }
    // Without runs a compare download would erase and write run 0 of an empty table.
    if (selection.m_nDloadType == DOWNLOAD_COMPARE && runCount == 0) {
        host_.MessageBox("No different block to download. Press Compare first.",
                         MessageBoxStyle::Ok);
        return;
    }
    host_.ResetProgressBars();
    startClock = clock_.NowMs();

    CloseStaleLinks();
    for (int i = 0; i < kEntryCount; ++i) {
        if (entries[i].comPort == 0) {
            continue;
        }
        if (!OpenEntry(i)) {
            host_.MessageBox(FormatText("COM Port(COMM%d) Open Error", i), MessageBoxStyle::Ok);
            return;
        }
        ResetEntryCounters(i);
    }

    downloadRuns_.assign(runTable.begin(), runTable.begin() + runCount);
    currentKind = 0;
    const bool prepared = selection.check[KIND_CODE_NEW] ? PrepareImage() : AdvanceImage();
    // AdvanceImage reports the end of the images as success: with nothing selected there is
    // nothing to send.
    if (!prepared || (currentKind == 0 && !selection.check[KIND_CODE_NEW])) {
        host_.MessageBox("User Cancel", MessageBoxStyle::Ok);
        return;
    }

    for (int i = 0; i < kEntryCount; ++i) {
        EntryRecord& e = entries[i];
        if (e.comPort == 0) {
            e.outcome = EntryOutcome::None;
            continue;
        }
        e.outcome = EntryOutcome::Running;
        e.retries = 0;
        e.resendCount = 0;
        e.bytesWritten = 0;
        e.startMs = clock_.NowMs();
        e.endMs = 0;
        e.link.RequestDownloadStart();
        SetEntryTimer(i, TIMER_COMMAND, 3000);
    }
    downloadRunning_ = true;
    host_.SetTimer(ID_TIMER_ELAPSED, 500);
    m_nProgressRefreshMs = ProgressRefreshMs(connectedCount());
    host_.FocusLogSelector();
}

// Port Search and hot-plug move port numbers between entries while links stay open. A link
// whose entry no longer holds its port would keep that port from the entry that holds it now.
void CDloadEngine::CloseStaleLinks() {
    for (int i = 0; i < kEntryCount; ++i) {
        EntryRecord& e = entries[i];
        if (e.link.portOpen && (e.comPort == 0 || e.link.portNumber != (e.comPort & 0xFF))) {
            ReleaseLink(i);
        }
    }
}

bool CDloadEngine::OpenEntry(int i) {
    EntryRecord& e = entries[i];
    // An open link is kept only while it still serves this entry's port.
    if (e.link.portOpen && e.linkOpen && e.link.portNumber == (e.comPort & 0xFF)) {
        return true;
    }
    // The old link is released without closing the entry, which would take the entry's port
    // number with it: the new link opens the port the entry holds now.
    return StartEntryLink(i);
}

bool CDloadEngine::StartEntryLink(int i) {
    EntryRecord& e = entries[i];
    e.link.SetPortNumber(static_cast<uint8_t>(e.comPort & 0xFF));
    e.link.entryIndex = i;
    // A thread of an earlier open has ended with its port; collect it before the link is reused.
    ReleaseLink(i);
    e.link.Attach(&host_, &e.textQueue);
    e.openFailure.clear();
    if (!e.link.Open()) {
        QueueEntryText(i, TEXT_NOTICE, "USB 연결 상태를 확인하세요.");
        // The system's texts say only that the port failed; this one says why and what to do.
        e.openFailure = OpenFailureOf(e.link);
        QueueEntryText(i, TEXT_ERROR, e.openFailure);
        CloseEntry(i);
        return false;
    }
    e.linkOpen = 1;
    e.rxThread = std::make_unique<CThreadRX>();
    e.rxThread->Start(&host_, &e.link, &e.textQueue, i);
    e.rxThread->Resume();
    e.rxRunning = 1;
    return true;
}

void CDloadEngine::CloseEntry(int i) {
    EntryRecord& e = entries[i];
    host_.KillTimer(static_cast<uint32_t>(i));
    MarkFailed(i);
    if (e.step != DL_START && e.step != DL_RESET && e.comPort != 0) {
        host_.ShowEntryProgress(i, PROG_ERROR, true);
        e.comPort = 0;
    }
    e.response = nullptr;
    e.step = DL_START;
    if (e.linkOpen) {
        e.comPort = 0;
        e.blockIndex = 0;
        e.retryPending = 0;
        ReleaseLink(i);
    }
    host_.UpdateEntryLabels();
    host_.UpdateData(false);
}

// Closing the port ends the receive thread's wait; joining it means nothing of the thread
// outlives this call. The entry keeps its port number.
void CDloadEngine::ReleaseLink(int i) {
    EntryRecord& e = entries[i];
    host_.KillTimer(static_cast<uint32_t>(i));
    e.linkOpen = 0;
    e.link.Shutdown();
    e.rxThread.reset();
    e.rxRunning = 0;
}

bool CDloadEngine::PrepareImage() {
    for (auto& e : entries) {
        if (e.linkOpen) {
            e.step = DL_START;
            e.blockIndex = 0;
            e.noResponseCount = 0;
            e.retryPending = 0;
        }
    }
    const bool compare = selection.m_nDloadType == DOWNLOAD_COMPARE;
    const int loadKind = compare ? KIND_CODE_NEW : currentKind;
    if (!image.Load(selection.imagePath[loadKind], static_cast<ImageKind>(loadKind))) {
        return false;
    }
    const uint32_t size = image.GetSize();
    const bool bootChange = currentKind == KIND_CODE_NEW && selection.m_bChangeBootArea;
    if (compare) {
        runCursor = 0;
        ApplyRunGeometry(0);
    } else if (currentKind == KIND_CODE_NEW && !bootChange) {
        const uint32_t start = image.GetStartAddress();
        // The code starts behind the boot area; an image that ends before it has no code.
        if (start > size) {
            host_.MessageBox(FormatText("Application 다운로딩 시작 주소가 0x%X 입니다.", start) +
                                 "\nThe image ends before this address.",
                             MessageBoxStyle::Ok);
            return false;
        }
        m_dwImageSize = size;
        eraseStart = blockBase = start;
        byteCount = size - start;
    } else {
        m_dwImageSize = size;
        eraseStart = currentKind == KIND_FONT
                         ? selection.fontStartAddress
                         : static_cast<uint32_t>(RowFor(currentKind).eraseArea);
        blockBase = 0;
        byteCount = size;
    }
    AnnounceImage(currentKind, bootChange ? 1 : 0);
    return true;
}

void CDloadEngine::ApplyRunGeometry(int run) {
    const uint32_t newSize = image.GetSize();
    const CompareRun& runAt = downloadRuns_[static_cast<size_t>(run)];
    const uint64_t start = uint64_t{static_cast<uint32_t>(runAt.start)} * kCompareWindow;
    uint64_t length = uint64_t{static_cast<uint32_t>(runAt.count)} * kCompareWindow;
    // A run that reaches into the last, partial window ends with the image.
    if (start >= newSize) {
        length = 0;
    } else if (start + length > newSize) {
        length = newSize - start;
    }
    eraseStart = blockBase = static_cast<uint32_t>(start);
    m_dwImageSize = byteCount = static_cast<uint32_t>(length);
}

bool CDloadEngine::AdvanceImage() {
    for (int kind = currentKind + 1; kind <= KIND_VPX_FACTORYFS; ++kind) {
        if (kind == KIND_CODE_OLD) {
            continue;
        }
        currentKind = kind;
        if (selection.check[kind]) {
            return PrepareImage();
        }
    }
    currentKind = 0;
    return true;
}

void CDloadEngine::AnnounceImage(int kind, int bootChange) {
    const char* title = kind == KIND_CODE_NEW && bootChange ? "Phone Code Download[Boot Change]"
                                                            : RowFor(kind).title;
    for (int i = 0; i < kEntryCount; ++i) {
        if (entries[i].linkOpen) {
            QueueEntryText(i, TEXT_NOTICE, title);
            QueueEntryText(i, TEXT_NOTICE, std::string(22, '-'));
        }
    }
}

void CDloadEngine::ResetAllEntries() {
    for (int i = 0; i < kEntryCount; ++i) {
        EntryRecord& e = entries[i];
        e.comPort = 0;
        e.jumpSent = 0;
        e.step = DL_START;
        e.blockIndex = 0;
        e.noResponseCount = 0;
        e.retryPending = 0;
        e.flashing = 0;
        // The entries' devices are gone or were never there; stop what is left of their links.
        ReleaseLink(i);
        rxStopFlag[i].store(0);
    }
}

bool CDloadEngine::IsAnyEntryBusy() const {
    if (!downloadRunning_) {
        return false;
    }
    for (const auto& e : entries) {
        if (e.linkOpen && e.rxThread) {
            return true;
        }
    }
    return false;
}

}  // namespace tarnflow
