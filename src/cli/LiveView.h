#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnflow {
class CDloadEngine;
}

namespace tarnflow::cli {

// The size of a terminal in character cells.
struct TerminalSize {
    int columns = 80;
    int rows = 24;
};

// One phone's progress as the engine describes it.
struct EntryView {
    std::string label;      // "Entry 3 (COM7): 0x400 / 0x1000 (25%)"
    std::string stageText;  // "25%", "Erasing Flash...", "Error!"
};

// What the live progress block shows, taken at one moment.
struct LiveSnapshot {
    std::vector<EntryView> entries;  // one per phone taking part, in entry order
    std::string elapsedText;         // as the engine gave it, e.g. " 0 min 12 sec"
    uint64_t bytesAcknowledged = 0;  // over all phones
    int64_t elapsedMs = 0;           // wall time since the download started
    uint64_t bytesToGo = 0;          // still to write in the current part, all phones
    std::string partName = "image";  // what bytesToGo covers: "image" or "run"
};

// True when TERM names a terminal that takes cursor movement: set, not empty, not "dumb".
bool TerminalTakesLiveProgress(const char* term);

// The columns a UTF-8 text takes on a terminal: East Asian wide characters (Hangul, CJK) take
// two, combining marks and control characters none. A malformed byte takes one, as terminals
// show it as a replacement character.
int DisplayWidth(std::string_view text);

// The longest start of `text` that fits in `columns`, never cut inside a UTF-8 sequence. Control
// characters become spaces and malformed bytes '?', so that the result moves the cursor exactly
// as far as it is wide.
std::string FitToColumns(std::string_view text, int columns);

// "812.4 KiB/s"; "--" while no time has passed.
std::string RateText(uint64_t bytes, int64_t elapsedMs);

// "0 min 42 sec", "2 h 5 min": how long `bytesToGo` take at the rate of `bytesDone` in
// `elapsedMs`, rounded up; "--" while nothing was written.
std::string TimeLeftText(uint64_t bytesToGo, uint64_t bytesDone, int64_t elapsedMs);

// An entry's row: "Entry 3 (COM7): 25%  0x400 / 0x1000", the stage first so that a narrow
// terminal cuts the address, not the stage. A label of another shape is shown as it is.
std::string EntryRow(const EntryView& view);

// "Elapsed 0 min 12 sec | 1.5 MiB/s | image left: 0 min 30 sec"
std::string SummaryRow(const LiveSnapshot& snapshot);

// The block's rows: one per entry, then the summary, each fitted to one column less than the
// terminal so that none wraps. A block taller than the terminal keeps its first entries and
// counts the others in a row of their own. No rows while there is nothing to show.
std::vector<std::string> LiveRows(const LiveSnapshot& snapshot, TerminalSize size);

// The bytes that replace a block of `rowsShown` rows, the cursor on the line below it: the
// cursor moves up over the old block, clears to the end of the screen, prints the log lines
// (which scroll away above as normal lines) and then the new block.
std::string RedrawBytes(int rowsShown, const std::vector<std::string>& logLines,
                        const std::vector<std::string>& rows);

// Image bytes the phones acknowledged, over all entries.
uint64_t BytesAcknowledged(const CDloadEngine& engine);

// Bytes the entries still writing have to write in the image (or compare run) being written
// now. The engine learns the size of each later image only when it starts it, so nothing
// beyond the current one can be counted.
uint64_t BytesToGo(const CDloadEngine& engine);

}  // namespace tarnflow::cli
