#include "cli/DownloadRun.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "cli/PortSource.h"
#include "cli/SignalWatch.h"
#include "cli/TerminalQuestion.h"
#include "engine/DownloadReport.h"
#include "platform/ReportFiles.h"

namespace tarnflow::cli {

namespace {

// Messages of the command line's own, beside the engine's notifications.
constexpr uint32_t kStopMessage = WM_USER + 0x300;    // a signal arrived
constexpr uint32_t kAnswerMessage = WM_USER + 0x301;  // a question's answer arrived

// The first chosen image that the loader would refuse for what the file is, with the loader's
// own message; empty when all can be read.
std::string ImageProblem(const DownloadSelection& selection) {
    for (int kind = 0; kind < kImageKindCount; ++kind) {
        if (selection.check[kind]) {
            const std::string problem = ImageFileProblem(selection.imagePath[kind], kind);
            if (!problem.empty()) {
                return problem;
            }
        }
    }
    return "";
}

void PrintSummary(const std::vector<ReportEntry>& entries) {
    for (const auto& r : entries) {
        std::printf("Entry %d (COM%d, %s): %s, %llu bytes, %d retries, %.1f s\n", r.entry, r.com,
                    r.device.c_str(), r.outcome.c_str(),
                    static_cast<unsigned long long>(r.bytesWritten), r.retries, r.seconds);
    }
    std::fflush(stdout);
}

void PrintOpenFailures(const CDloadEngine& engine) {
    for (int i = 0; i < kEntryCount; ++i) {
        if (!engine.entries[i].openFailure.empty()) {
            std::fprintf(stderr, "Entry %d: %s\n", i + 1, engine.entries[i].openFailure.c_str());
        }
    }
}

// Writes the report where --json says and appends it to the history; false when --json could
// not be written.
bool Publish(const DownloadReport& report, const std::string& jsonPath) {
    bool ok = true;
    std::string error;
    if (!jsonPath.empty() &&
        !WriteFileAtomically(jsonPath, ReportToJson(report, 2) + "\n", error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        ok = false;
    }
    if (!AppendToHistory(report, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
    }
    return ok;
}

std::string InterruptionText(int signal) {
    return std::string("Interrupted by SIG") + sigabbrev_np(signal) + ".";
}

// The download itself: ports, start, the message loop until no phone can still finish or a
// signal stops it, and closing. Returns the status before the report's own checks.
int Download(const CliOptions& options, SignalWatch& signals, MessageLoop& loop,
             std::vector<ReportEntry>& entries) {
    QuestionPolicy policy = options.questions;
    if (!options.questionsGiven && !isatty(STDIN_FILENO)) {
        policy = QuestionPolicy::No;
    }
    HeadlessHost host(loop, policy, isatty(STDOUT_FILENO) != 0);
    TerminalQuestions questions(loop, STDIN_FILENO, kAnswerMessage);
    host.SetQuestionAsker([&] { return questions.Ask(); });
    SteadyClock clock;
    CDloadEngine engine(host, clock);
    host.AttachEngine(&engine);
    engine.OnInitDialog();
    engine.selection = options.selection;

    bool stopped = false;
    const auto forward = [&](auto&& handle) {
        if (stopped) {
            return;  // nothing more reaches the phones once a signal has come
        }
        handle();
        if (!engine.DownloadRunning()) {
            loop.Quit();
        }
    };
    loop.SetHandlers(
        [&](const Message& m) {
            if (m.message == kStopMessage && !stopped) {
                engine.InterruptDownload();
                stopped = true;
                loop.Quit();
            } else if (m.message != kAnswerMessage && m.message != kStopMessage) {
                forward([&] { engine.OnMessage(m); });
            }
        },
        [&](uint32_t id) { forward([&] { engine.OnTimer(id); }); });

    PortAssignment assignment;
    const bool assigned =
        AssignPorts(options, engine, assignment, [&] { return signals.Received() != 0; });
    int status = 0;
    std::string refusal;  // the message that refused the download, if one did
    if (assigned && signals.Received() == 0) {
        if (engine.selection.m_nDloadType == DOWNLOAD_COMPARE) {
            engine.OnCompare();
        }
        engine.OnDownload();
        PrintOpenFailures(engine);
        if (!engine.DownloadRunning()) {
            refusal = host.LastMessage();
        } else if (!stopped) {
            loop.Run();
        }
    } else if (!assigned) {
        status = 1;
    }
    if (!assignment.shortfall.empty()) {
        status = 1;
    }
    engine.OnClose();
    loop.DispatchPosted();
    host.FlushQueuedTexts();
    host.FinishLiveLine();

    const auto deviceOf = [&](int com) {
        const auto it = assignment.devices.find(com);
        return it != assignment.devices.end() ? it->second : KnownDevice(com);
    };
    entries = DescribeEntries(engine, engine.downloadPorts, deviceOf, refusal,
                              signals.Received() ? InterruptionText(signals.Received()) : "");
    return status;
}

}  // namespace

int RunDownload(const CliOptions& options) {
    DownloadReport report;
    report.toolName = "tarnflow-cli";
    report.host = HostName();
    report.startTime = std::chrono::system_clock::now();
    report.downloadType = options.selection.m_nDloadType;
    report.images = DescribeImages(options.selection);

    SteadyClock clock;
    MessageLoop loop(clock);
    SignalWatch signals;
    signals.Start([&](int) { loop.Post(Message{kStopMessage, 0, 0}); });

    int status = 0;
    std::string jsonPath = options.jsonPath;
    std::string error;
    std::string problem = CheckSelection(options.selection);
    if (problem.empty()) {
        problem = ImageProblem(options.selection);
    }
    if (!jsonPath.empty() && !CanWriteFile(jsonPath, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        jsonPath.clear();
        status = 2;
    } else if (!problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        status = 2;
    } else {
        status = Download(options, signals, loop, report.entries);
        PrintSummary(report.entries);
        if (status == 0) {
            status = ExitStatusOf(report.entries);
        }
    }
    if (signals.Received() != 0) {
        std::fprintf(stderr, "%s\n", InterruptionText(signals.Received()).c_str());
        status = 128 + signals.Received();
    }
    report.endTime = std::chrono::system_clock::now();
    report.exitStatus = status;
    if (!Publish(report, jsonPath) && status == 0) {
        status = 2;
    }
    return status;
}

}  // namespace tarnflow::cli
