#include "cli/DownloadRun.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>

#include "cli/PortSource.h"
#include "platform/PortNames.h"

namespace tarnflow::cli {

namespace {

constexpr uint32_t kInterruptCheckTimer = 900;
std::atomic<bool> g_interrupted{false};

void OnSignal(int) {
    g_interrupted.store(true);
}

bool ImagesReadable(const DownloadSelection& selection) {
    for (int kind = 0; kind < kImageKindCount; ++kind) {
        if (!selection.check[kind]) {
            continue;
        }
        std::FILE* file = std::fopen(selection.imagePath[kind].c_str(), "rb");
        if (file == nullptr) {
            std::fprintf(stderr, " Fail to read from %s\n Please Check bin_file !\n",
                         selection.imagePath[kind].c_str());
            return false;
        }
        std::fclose(file);
    }
    return true;
}

std::vector<EntryReport> Collect(const CDloadEngine& engine, const std::vector<int>& ports) {
    std::vector<EntryReport> reports;
    for (int i = 0; i < kEntryCount; ++i) {
        const EntryRecord& e = engine.entries[i];
        if (ports[i] == 0) {
            continue;
        }
        EntryReport r;
        r.entry = i + 1;
        r.comPort = ports[i];
        r.port = PortNames::NodeFor(ports[i]);
        r.outcome = e.outcome == EntryOutcome::Completed ? "completed" : "failed";
        r.bytesWritten = e.bytesWritten;
        r.retries = e.retries;
        r.seconds = e.endMs > e.startMs ? (e.endMs - e.startMs) / 1000.0 : 0.0;
        reports.push_back(r);
    }
    return reports;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

}  // namespace

std::string ReportJson(const std::vector<EntryReport>& entries, int exitStatus) {
    std::string json = "{\n  \"exitStatus\": " + std::to_string(exitStatus) + ",\n  \"entries\": [";
    for (size_t k = 0; k < entries.size(); ++k) {
        const EntryReport& r = entries[k];
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
        json += (k == 0 ? "\n" : ",\n");
        json += "    {\"entry\": " + std::to_string(r.entry) + ", \"port\": " + JsonString(r.port) +
                ", \"com\": " + std::to_string(r.comPort) +
                ", \"outcome\": " + JsonString(r.outcome) +
                ", \"bytesWritten\": " + std::to_string(r.bytesWritten) +
                ", \"retries\": " + std::to_string(r.retries) + ", \"seconds\": " + seconds + "}";
    }
    json += entries.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return json;
}

int RunDownload(const CliOptions& options) {
    const std::string problem = CheckSelection(options.selection);
    if (!problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 2;
    }
    if (!ImagesReadable(options.selection)) {
        return 2;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    QuestionPolicy policy = options.questions;
    if (!options.questionsGiven && !isatty(STDIN_FILENO)) {
        policy = QuestionPolicy::No;
    }
    SteadyClock clock;
    MessageLoop loop(clock);
    HeadlessHost host(loop, policy, isatty(STDOUT_FILENO) != 0);
    CDloadEngine engine(host, clock);
    host.AttachEngine(&engine);
    engine.OnInitDialog();
    engine.selection = options.selection;

    PortAssignment assignment;
    if (!AssignPorts(options, engine, assignment, [] { return g_interrupted.load(); })) {
        return 1;
    }
    std::vector<int> ports(kEntryCount);
    for (int i = 0; i < kEntryCount; ++i) {
        ports[i] = engine.entries[i].comPort;
    }
    if (engine.selection.m_nDloadType == DOWNLOAD_COMPARE) {
        engine.OnCompare();
    }
    engine.OnDownload();

    // The handlers stay in place to the end: closing the entries posts messages too.
    const auto quitWhenDone = [&] {
        if (!engine.DownloadRunning() || g_interrupted.load()) {
            loop.Quit();
        }
    };
    loop.SetHandlers(
        [&](const Message& m) {
            engine.OnMessage(m);
            quitWhenDone();
        },
        [&](uint32_t id) {
            if (id != kInterruptCheckTimer) {
                engine.OnTimer(id);
            }
            quitWhenDone();
        });
    int status = 1;
    if (engine.DownloadRunning()) {
        loop.SetTimer(kInterruptCheckTimer, 200);
        loop.Run();
        loop.KillTimer(kInterruptCheckTimer);
        loop.DispatchPosted();
        status = 0;
    }
    engine.OnClose();
    loop.DispatchPosted();
    host.FlushQueuedTexts();
    host.FinishLiveLine();

    const auto reports = Collect(engine, ports);
    for (const auto& r : reports) {
        if (r.outcome != "completed") {
            status = 1;
        }
        std::printf("Entry %d (COM%d, %s): %s, %llu bytes, %d retries, %.1f s\n", r.entry,
                    r.comPort, r.port.c_str(), r.outcome.c_str(),
                    static_cast<unsigned long long>(r.bytesWritten), r.retries, r.seconds);
    }
    if (reports.empty()) {
        status = 1;
    }
    if (g_interrupted.load()) {
        std::fprintf(stderr, "Interrupted.\n");
        status = 1;
    }
    if (!options.jsonPath.empty()) {
        std::ofstream json(options.jsonPath, std::ios::trunc);
        json << ReportJson(reports, status);
        if (!json) {
            std::fprintf(stderr, "Cannot write %s\n", options.jsonPath.c_str());
        }
    }
    return status;
}

}  // namespace tarnflow::cli
