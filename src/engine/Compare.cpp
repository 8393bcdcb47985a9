// Differential compare of the old and new code images in 128 KiB windows.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "engine/DloadEngine.h"

namespace tarnflow {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Reads the window at `index` into `window`; returns the bytes present (fewer at the end).
size_t ReadWindow(std::FILE* file, int index, std::vector<uint8_t>& window) {
    const auto offset = static_cast<off_t>(static_cast<uint64_t>(index) * kCompareWindow);
    if (fseeko(file, offset, SEEK_SET) != 0) {
        return 0;
    }
    return std::fread(window.data(), 1, window.size(), file);
}

std::string Format(const char* format, int a, int b = 0) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

}  // namespace

// Windows of different lengths (the end of either file) differ; otherwise every byte counts.
bool CDloadEngine::WindowsEqual(const std::vector<uint8_t>& a, size_t lengthA,
                                const std::vector<uint8_t>& b, size_t lengthB) {
    return lengthA == lengthB && std::memcmp(a.data(), b.data(), lengthA) == 0;
}

int CDloadEngine::SumRunBlocks(int n) const {
    int total = 0;
    for (int k = 0; k < n && k < kMaxRuns; ++k) {
        total += runTable[k].count;
    }
    return total;
}

// Counts the differing windows from chunkIndex on into the current run; the equal window that
// ends the run is consumed. Two work windows at a time, besides the two of OnCompare.
void CDloadEngine::ExtendRun(std::FILE* newFile, std::FILE* oldFile, uint64_t newLength) {
    std::vector<uint8_t> a(kCompareWindow);
    std::vector<uint8_t> b(kCompareWindow);
    while (uint64_t{static_cast<uint32_t>(chunkIndex)} * kCompareWindow < newLength) {
        const size_t lengthA = ReadWindow(newFile, chunkIndex, a);
        const size_t lengthB = ReadWindow(oldFile, chunkIndex, b);
        ++chunkIndex;
        if (WindowsEqual(a, lengthA, b, lengthB)) {
            return;
        }
        ++runTable[runCount].count;
    }
}

// Builds the run table for the next compare download; a download already running keeps the
// runs it started with (and its runCursor).
void CDloadEngine::OnCompare() {
    runCount = 0;
    chunkIndex = 0;
    runTable.fill(CompareRun{});
    host_.UpdateData(true);
    if (selection.m_nDloadType != DOWNLOAD_COMPARE) {
        host_.MessageBox("Download Type is not Compare Emergency!!", MessageBoxStyle::Ok);
        return;
    }
    CompareFiles(selection.imagePath[KIND_CODE_NEW], selection.imagePath[KIND_CODE_OLD]);
    host_.UpdateData(false);
}

bool CDloadEngine::CompareFiles(const std::string& newPath, const std::string& oldPath) {
    File newFile(std::fopen(newPath.c_str(), "rb"));
    File oldFile(std::fopen(oldPath.c_str(), "rb"));
    struct stat status {};
    for (const auto* path : {&newPath, &oldPath}) {
        const bool opened = path == &newPath ? newFile != nullptr : oldFile != nullptr;
        if (!opened || stat(path->c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
            host_.MessageBox(" Fail to read from " + *path + "\n Please Check bin_file !",
                             MessageBoxStyle::Information);
            return false;
        }
    }
    stat(newPath.c_str(), &status);
    const auto newLength = static_cast<uint64_t>(status.st_size);

    std::vector<uint8_t> a(kCompareWindow);
    std::vector<uint8_t> b(kCompareWindow);
    while (uint64_t{static_cast<uint32_t>(chunkIndex)} * kCompareWindow < newLength) {
        const size_t lengthA = ReadWindow(newFile.get(), chunkIndex, a);
        const size_t lengthB = ReadWindow(oldFile.get(), chunkIndex, b);
        if (WindowsEqual(a, lengthA, b, lengthB)) {
            ++chunkIndex;
            continue;
        }
        if (runCount == kMaxRuns) {
            // The table holds 128 runs; a partial table would leave changes unwritten.
            runTable.fill(CompareRun{});
            runCount = 0;
            host_.MessageBox(
                "Too many different blocks: more than 128 runs. Use a normal download.",
                MessageBoxStyle::Ok);
            return false;
        }
        runTable[runCount].start = chunkIndex;
        ExtendRun(newFile.get(), oldFile.get(), newLength);
        QueueEntryText(1, TEXT_PROGRESS,
                       Format(" Different Start Block Index is  %d &&& Count is %d\n",
                              runTable[runCount].start, runTable[runCount].count));
        ++runCount;
    }
    QueueEntryText(1, TEXT_PROGRESS, Format(" 다운로드 반복 횟수 %d\n", runCount));
    QueueEntryText(1, TEXT_PROGRESS,
                   Format("Total Differnt Download Blocks %d\n", SumRunBlocks(runCount)));
    QueueEntryText(1, TEXT_PROGRESS, "Compare Complete");
    return true;
}

}  // namespace tarnflow
