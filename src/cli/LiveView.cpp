#include "cli/LiveView.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "engine/DloadEngine.h"

namespace tarnflow::cli {

namespace {

struct CodeRange {
    char32_t first;
    char32_t last;
};

// Combining marks, and the Hangul vowel and final jamo that join the syllable before them.
constexpr CodeRange kZeroWidth[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x1160, 0x11FF}, {0x200B, 0x200F},
    {0x20D0, 0x20FF}, {0xD7B0, 0xD7FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F},
};

// East Asian wide characters: Hangul, CJK, full-width forms and the wide emoji blocks.
constexpr CodeRange kWide[] = {
    {0x1100, 0x115F}, {0x2E80, 0x303E}, {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},
    {0xA000, 0xA4CF}, {0xA960, 0xA97F}, {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE30, 0xFE4F},
    {0xFF00, 0xFF60}, {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD},
};

template <size_t N>
bool InRanges(char32_t code, const CodeRange (&ranges)[N]) {
    return std::any_of(std::begin(ranges), std::end(ranges),
                       [code](const CodeRange& r) { return code >= r.first && code <= r.last; });
}

bool IsControl(char32_t code) {
    return code < 0x20 || (code >= 0x7F && code < 0xA0);
}

// Columns of one printable code point.
int CodeWidth(char32_t code) {
    if (InRanges(code, kZeroWidth)) {
        return 0;
    }
    return InRanges(code, kWide) ? 2 : 1;
}

// One UTF-8 sequence at a position; a malformed one is its first byte alone.
struct Glyph {
    size_t length = 1;
    char32_t code = 0;
    bool valid = false;
};

// The length and payload bits of a sequence starting with `lead`; length 0 for no lead byte.
Glyph LeadByte(unsigned char lead) {
    if (lead < 0x80) {
        return {1, lead, true};
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return {2, static_cast<char32_t>(lead & 0x1F), true};
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return {3, static_cast<char32_t>(lead & 0x0F), true};
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return {4, static_cast<char32_t>(lead & 0x07), true};
    }
    return {0, 0, false};
}

Glyph DecodeAt(std::string_view text, size_t pos) {
    Glyph glyph = LeadByte(static_cast<unsigned char>(text[pos]));
    const Glyph malformed{};
    if (glyph.length == 0 || pos + glyph.length > text.size()) {
        return malformed;
    }
    for (size_t k = 1; k < glyph.length; ++k) {
        const auto next = static_cast<unsigned char>(text[pos + k]);
        if ((next & 0xC0) != 0x80) {
            return malformed;
        }
        glyph.code = (glyph.code << 6) | (next & 0x3F);
    }
    const bool overlong =
        (glyph.length == 3 && glyph.code < 0x800) || (glyph.length == 4 && glyph.code < 0x10000);
    const bool surrogate = glyph.code >= 0xD800 && glyph.code <= 0xDFFF;
    if (overlong || surrogate || glyph.code > 0x10FFFF) {
        return malformed;
    }
    return glyph;
}

std::string DurationText(int64_t seconds) {
    char text[48];
    if (seconds >= 3600) {
        std::snprintf(text, sizeof text, "%lld h %lld min", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds % 3600 / 60));
    } else {
        std::snprintf(text, sizeof text, "%lld min %lld sec", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    }
    return text;
}

std::string Join(const std::vector<std::string>& parts, const std::string& separator) {
    std::string joined;
    for (const auto& part : parts) {
        joined += (joined.empty() ? "" : separator) + part;
    }
    return joined;
}

// The entry rows of a block that may hold `maxRows` rows besides the summary.
std::vector<std::string> EntryRows(const std::vector<EntryView>& entries, size_t maxRows,
                                   int columns) {
    std::vector<std::string> rows;
    const bool allFit = entries.size() <= maxRows;
    if (!allFit && maxRows == 0) {
        return rows;
    }
    const size_t shown = allFit ? entries.size() : maxRows - 1;
    for (size_t k = 0; k < shown; ++k) {
        rows.push_back(FitToColumns(EntryRow(entries[k]), columns));
    }
    if (!allFit) {
        rows.push_back(
            FitToColumns("... and " + std::to_string(entries.size() - shown) + " more", columns));
    }
    return rows;
}

}  // namespace

bool TerminalTakesLiveProgress(const char* term) {
    return term != nullptr && *term != '\0' && std::string_view(term) != "dumb";
}

int DisplayWidth(std::string_view text) {
    int width = 0;
    for (size_t pos = 0; pos < text.size();) {
        const Glyph glyph = DecodeAt(text, pos);
        if (!glyph.valid) {
            width += 1;
        } else if (!IsControl(glyph.code)) {
            width += CodeWidth(glyph.code);
        }
        pos += glyph.length;
    }
    return width;
}

std::string FitToColumns(std::string_view text, int columns) {
    std::string fitted;
    int used = 0;
    for (size_t pos = 0; pos < text.size();) {
        const Glyph glyph = DecodeAt(text, pos);
        std::string_view piece = text.substr(pos, glyph.length);
        int width = 1;
        if (!glyph.valid) {
            piece = "?";
        } else if (IsControl(glyph.code)) {
            piece = " ";
        } else {
            width = CodeWidth(glyph.code);
        }
        if (used + width > columns) {
            break;
        }
        fitted += piece;
        used += width;
        pos += glyph.length;
    }
    return fitted;
}

std::string RateText(uint64_t bytes, int64_t elapsedMs) {
    if (elapsedMs <= 0) {
        return "--";
    }
    const double perSecond = static_cast<double>(bytes) * 1000.0 / static_cast<double>(elapsedMs);
    char text[48];
    if (perSecond < 1024.0) {
        std::snprintf(text, sizeof text, "%.0f B/s", perSecond);
    } else if (perSecond < 1024.0 * 1024.0) {
        std::snprintf(text, sizeof text, "%.1f KiB/s", perSecond / 1024.0);
    } else {
        std::snprintf(text, sizeof text, "%.1f MiB/s", perSecond / (1024.0 * 1024.0));
    }
    return text;
}

std::string TimeLeftText(uint64_t bytesToGo, uint64_t bytesDone, int64_t elapsedMs) {
    if (bytesToGo == 0) {
        return DurationText(0);
    }
    if (bytesDone == 0 || elapsedMs <= 0) {
        return "--";
    }
    const double ms = static_cast<double>(bytesToGo) * static_cast<double>(elapsedMs) /
                      static_cast<double>(bytesDone);
    return DurationText(static_cast<int64_t>(std::ceil(ms / 1000.0)));
}

std::string EntryRow(const EntryView& view) {
    const std::string& label = view.label;
    const std::string stage = " (" + view.stageText + ")";
    const size_t colon = label.find(": ");
    if (view.stageText.empty() || colon == std::string::npos || !label.ends_with(stage) ||
        colon + 2 + stage.size() > label.size()) {
        return label;
    }
    const std::string where = label.substr(colon + 2, label.size() - stage.size() - colon - 2);
    return label.substr(0, colon + 2) + view.stageText + (where.empty() ? "" : "  " + where);
}

std::string SummaryRow(const LiveSnapshot& snapshot) {
    std::vector<std::string> parts;
    const size_t first = snapshot.elapsedText.find_first_not_of(' ');
    if (first != std::string::npos) {
        parts.push_back("Elapsed " + snapshot.elapsedText.substr(first));
    }
    parts.push_back(RateText(snapshot.bytesAcknowledged, snapshot.elapsedMs));
    parts.push_back(
        snapshot.partName + " left: " +
        TimeLeftText(snapshot.bytesToGo, snapshot.bytesAcknowledged, snapshot.elapsedMs));
    return Join(parts, " | ");
}

std::vector<std::string> LiveRows(const LiveSnapshot& snapshot, TerminalSize size) {
    if (snapshot.entries.empty() && snapshot.elapsedText.empty()) {
        return {};
    }
    // The last column stays free: a character there would leave the cursor waiting to wrap.
    const int columns = std::max(size.columns - 1, 0);
    // One line below the block holds the cursor.
    const size_t maxRows = static_cast<size_t>(std::max(size.rows - 1, 1));
    std::vector<std::string> rows = EntryRows(snapshot.entries, maxRows - 1, columns);
    rows.push_back(FitToColumns(SummaryRow(snapshot), columns));
    return rows;
}

std::string RedrawBytes(int rowsShown, const std::vector<std::string>& logLines,
                        const std::vector<std::string>& rows) {
    std::string bytes;
    if (rowsShown > 0) {
        bytes += "\033[" + std::to_string(rowsShown) + "A\r\033[J";
    }
    for (const auto& line : logLines) {
        bytes += line + "\n";
    }
    for (const auto& row : rows) {
        bytes += row + "\n";
    }
    return bytes;
}

uint64_t BytesAcknowledged(const CDloadEngine& engine) {
    uint64_t bytes = 0;
    for (const auto& e : engine.entries) {
        bytes += e.bytesWritten;
    }
    return bytes;
}

uint64_t BytesToGo(const CDloadEngine& engine) {
    // In whole blocks, as the engine counts the blocks of an image.
    const int64_t blocks = engine.byteCount / kBlockSize;
    uint64_t bytes = 0;
    for (const auto& e : engine.entries) {
        // An entry waiting for the others has written the image; one sent the final jump has
        // written them all, its block index back at 0.
        const bool writing =
            e.outcome == EntryOutcome::Running && e.step != DL_WAIT && e.step != DL_RESET;
        if (writing && e.blockIndex < blocks) {
            bytes += static_cast<uint64_t>(blocks - std::max(e.blockIndex, 0)) * kBlockSize;
        }
    }
    return bytes;
}

}  // namespace tarnflow::cli
