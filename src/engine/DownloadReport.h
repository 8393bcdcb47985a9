#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "comm/QTextQ.h"
#include "engine/DownloadSelection.h"
#include "engine/Thrdrx.h"
#include "platform/DeviceMap.h"

namespace tarnflow {

class CDloadEngine;

// The record of one download, the same from both front ends: what went into which phone.
// Field meanings and the JSON form are documented in docs/report.md.
struct ReportImage {
    std::string kind;  // "code", "old", "font", "vpx-boot", ...
    std::string path;
    uint64_t size = 0;
    std::optional<std::string> sha256;  // none when the file could not be read
};

struct ReportEntry {
    int entry = 0;  // 1-20
    int com = 0;
    std::string device;                 // the device node
    std::optional<std::string> socket;  // the USB socket path where known
    std::optional<UsbIdentity> usb;
    std::string outcome;  // "completed", "failed" or "interrupted"
    std::string reason;   // the text that ended the entry; empty when completed
    uint64_t bytesWritten = 0;
    int retries = 0;
    double seconds = 0;
    std::vector<CTextQItem> log;  // every status text of the entry, in order
};

struct DownloadReport {
    std::string toolName;  // "tarnflow-cli" or "tarnflow"
    std::string host;
    std::chrono::system_clock::time_point startTime;
    std::chrono::system_clock::time_point endTime;
    int downloadType = 0;
    std::vector<ReportImage> images;
    int exitStatus = 0;
    std::vector<ReportEntry> entries;
};

// The selected images in download order, each read once for its size and digest.
std::vector<ReportImage> DescribeImages(const DownloadSelection& selection);

// One report entry per entry that had a port when the download was asked for (`downloadPorts`,
// by entry). `deviceOf` tells what is known of the device behind a COM number. An entry that
// never started (the download was refused) is failed for `refusal`; one the run stopped, or
// that never started when the run was stopped, is interrupted for `interruption`.
std::vector<ReportEntry> DescribeEntries(const CDloadEngine& engine,
                                         const std::array<int, kEntryCount>& downloadPorts,
                                         const std::function<SerialDevice(int com)>& deviceOf,
                                         const std::string& refusal,
                                         const std::string& interruption);

// The report of the engine's latest download as the engine knows it, ending now: the entries
// as DescribeEntries gives them, the exit status ExitStatusOf gives.
DownloadReport ReportOfDownload(const CDloadEngine& engine, const std::string& toolName,
                                const std::function<SerialDevice(int com)>& deviceOf,
                                const std::string& refusal, const std::string& interruption);

// Appends the report as one line to the history file (HistoryFilePath); true when written or
// when the history is turned off.
bool AppendToHistory(const DownloadReport& report, std::string& error);

// What the system knows of the device behind a COM number: its node, and from udev or sysfs for a
// tty behind that node its socket and USB identity.
SerialDevice KnownDevice(int com);

// The exit status a run with these entries has: 0 when every one completed (and there is at
// least one), else 1.
int ExitStatusOf(const std::vector<ReportEntry>& entries);

// "2026-12-11T10:38:31Z".
std::string IsoUtcTime(std::chrono::system_clock::time_point time);

std::string HostName();

// The report as JSON, always valid UTF-8 whatever bytes paths and texts hold (invalid bytes
// become U+FFFD). `indent` < 0 gives one line, for the history file.
std::string ReportToJson(const DownloadReport& report, int indent);

}  // namespace tarnflow
