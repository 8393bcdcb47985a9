#include "engine/DownloadReport.h"

#include <unistd.h>

#include <ctime>
#include <nlohmann/json.hpp>

#include "engine/DloadEngine.h"
#include "platform/FileDigest.h"
#include "platform/PortNames.h"
#include "platform/ReportFiles.h"
#include "platform/SerialDevices.h"
#include "platform/Version.h"

namespace tarnflow {

namespace {

// Keys keep the order the schema lists them in, for people reading a report.
using json = nlohmann::ordered_json;

constexpr const char* kKindNames[kImageKindCount] = {"code",         "old",      "font",
                                                     "vpx-boot",     "vpx-code", "vpx-font",
                                                     "vpx-contents", "vpx-lfs",  "vpx-factoryfs"};

const char* DownloadTypeName(int type) {
    switch (type) {
        case 0:
            return "emergency";
        case 1:
            return "change";
        default:
            return "compare";
    }
}

const char* OutcomeName(EntryOutcome outcome) {
    switch (outcome) {
        case EntryOutcome::Completed:
            return "completed";
        case EntryOutcome::Interrupted:
            return "interrupted";
        default:
            return "failed";
    }
}

// The text that ended a failed entry: its last error text, else its last text of any kind.
std::string EndingText(const std::vector<CTextQItem>& log) {
    for (auto it = log.rbegin(); it != log.rend(); ++it) {
        if (it->type == TEXT_ERROR) {
            return it->text;
        }
    }
    return log.empty() ? "" : log.back().text;
}

std::string ReasonFor(EntryOutcome outcome, const std::vector<CTextQItem>& log,
                      const std::string& refusal, const std::string& interruption) {
    switch (outcome) {
        case EntryOutcome::Completed:
            return "";
        case EntryOutcome::Interrupted:
            return interruption;
        case EntryOutcome::None:
            return refusal.empty() ? EndingText(log) : refusal;
        default:
            return EndingText(log);
    }
}

json ImageJson(const ReportImage& image) {
    return {{"kind", image.kind},
            {"path", image.path},
            {"size", image.size},
            {"sha256", image.sha256 ? json(*image.sha256) : json(nullptr)}};
}

json EntryJson(const ReportEntry& entry) {
    json log = json::array();
    for (const auto& item : entry.log) {
        log.push_back(json::array({item.type, item.text}));
    }
    json usb = nullptr;
    if (entry.usb) {
        usb = {{"vendorId", entry.usb->vendorId},
               {"productId", entry.usb->productId},
               {"serial", entry.usb->serial}};
    }
    return {{"entry", entry.entry},
            {"com", entry.com},
            {"device", entry.device},
            {"socket", entry.socket ? json(*entry.socket) : json(nullptr)},
            {"usb", usb},
            {"outcome", entry.outcome},
            {"reason", entry.reason},
            {"bytesWritten", entry.bytesWritten},
            {"retries", entry.retries},
            {"seconds", entry.seconds},
            {"log", log}};
}

}  // namespace

std::vector<ReportImage> DescribeImages(const DownloadSelection& selection) {
    std::vector<ReportImage> images;
    for (int kind = 0; kind < kImageKindCount; ++kind) {
        if (!selection.check[kind]) {
            continue;
        }
        const FileDigest digest = DigestFile(selection.imagePath[kind]);
        images.push_back({kKindNames[kind], selection.imagePath[kind], digest.size, digest.sha256});
    }
    return images;
}

SerialDevice KnownDevice(int com) {
    SerialDevice known{"", PortNames::NodeFor(com), "", {}};
    AddNodeIdentity(known);
    return known;
}

std::vector<ReportEntry> DescribeEntries(const CDloadEngine& engine,
                                         const std::array<int, kEntryCount>& downloadPorts,
                                         const std::function<SerialDevice(int com)>& deviceOf,
                                         const std::string& refusal,
                                         const std::string& interruption) {
    std::vector<ReportEntry> entries;
    for (int i = 0; i < kEntryCount; ++i) {
        if (downloadPorts[i] == 0) {
            continue;
        }
        const EntryRecord& e = engine.entries[i];
        const SerialDevice device = deviceOf(downloadPorts[i]);
        ReportEntry r;
        r.entry = i + 1;
        r.com = downloadPorts[i];
        r.device = device.node;
        if (!device.physicalPath.empty()) {
            r.socket = device.physicalPath;
        }
        r.usb = device.usb;
        r.log = e.textQueue.Log();
        // A signal before the download got going stops entries that never started too.
        const EntryOutcome outcome = e.outcome == EntryOutcome::None && !interruption.empty()
                                         ? EntryOutcome::Interrupted
                                         : e.outcome;
        r.outcome = OutcomeName(outcome);
        r.reason = ReasonFor(outcome, r.log, refusal, interruption);
        if (e.outcome != EntryOutcome::None) {
            r.bytesWritten = e.bytesWritten;
            r.retries = e.retries;
            r.seconds = e.endMs > e.startMs ? (e.endMs - e.startMs) / 1000.0 : 0.0;
        }
        entries.push_back(std::move(r));
    }
    return entries;
}

DownloadReport ReportOfDownload(const CDloadEngine& engine, const std::string& toolName,
                                const std::function<SerialDevice(int com)>& deviceOf,
                                const std::string& refusal, const std::string& interruption) {
    DownloadReport report;
    report.toolName = toolName;
    report.host = HostName();
    report.startTime = engine.downloadStartTime;
    report.endTime = std::chrono::system_clock::now();
    report.downloadType = engine.selection.m_nDloadType;
    report.images = DescribeImages(engine.selection);
    report.entries = DescribeEntries(engine, engine.downloadPorts, deviceOf, refusal, interruption);
    report.exitStatus = ExitStatusOf(report.entries);
    return report;
}

bool AppendToHistory(const DownloadReport& report, std::string& error) {
    const std::string path = HistoryFilePath();
    return path.empty() || AppendLine(path, ReportToJson(report, -1), error);
}

int ExitStatusOf(const std::vector<ReportEntry>& entries) {
    if (entries.empty()) {
        return 1;
    }
    for (const auto& entry : entries) {
        if (entry.outcome != "completed") {
            return 1;
        }
    }
    return 0;
}

std::string IsoUtcTime(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return "";
    }
    return name;
}

std::string ReportToJson(const DownloadReport& report, int indent) {
    json images = json::array();
    for (const auto& image : report.images) {
        images.push_back(ImageJson(image));
    }
    json entries = json::array();
    for (const auto& entry : report.entries) {
        entries.push_back(EntryJson(entry));
    }
    const json root = {{"schemaVersion", 1},
                       {"tool", {{"name", report.toolName}, {"version", kTarnflowVersion}}},
                       {"host", report.host},
                       {"startTime", IsoUtcTime(report.startTime)},
                       {"endTime", IsoUtcTime(report.endTime)},
                       {"downloadType", DownloadTypeName(report.downloadType)},
                       {"images", images},
                       {"exitStatus", report.exitStatus},
                       {"entries", entries}};
    return root.dump(indent, ' ', false, json::error_handler_t::replace);
}

}  // namespace tarnflow
