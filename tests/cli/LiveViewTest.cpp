#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "cli/HeadlessHost.h"
#include "cli/LiveView.h"
#include "support/PtyPair.h"
#include "support/ScopedEnv.h"

namespace tarnflow::cli {
namespace {

using Rows = std::vector<std::string>;

TEST(LiveViewText, CountsDisplayColumns) {
    const struct {
        std::string text;
        int width;
    } cases[] = {
        {"", 0},
        {"Entry 3 (COM7)", 14},
        {"한글", 4},
        {"a한b", 4},
        {"漢字", 4},
        {"e\xCC\x81", 1},                             // e and a combining acute accent
        {"\xE1\x84\x92\xE1\x85\xA1\xE1\x86\xAB", 2},  // one syllable from conjoining jamo
        {"\t\x1b", 0},
        {"\xFF"
         "a",
         2},
        {"\xED\x95", 2},  // a sequence cut short: two malformed bytes
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DisplayWidth(c.text), c.width) << c.text;
    }
}

TEST(LiveViewText, FitsToColumns) {
    const struct {
        std::string text;
        int columns;
        std::string fitted;
    } cases[] = {
        {"Entry 12 (COM12)", 5, "Entry"},
        {"abc", 3, "abc"},
        {"abc", 10, "abc"},
        {"abc", 0, ""},
        {"한글한글", 5, "한글"},
        {"한글한글", 4, "한글"},
        {"a한글", 2, "a"},
        {"한", 1, ""},
        {"e\xCC\x81x", 1, "e\xCC\x81"},  // the accent stays with its letter
        {"a\tb\x1b[2J", 10, "a b [2J"},  // control characters cannot move the cursor
        {"ok\xFFok", 5, "ok?ok"},
        {"\xED\x95", 5, "??"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FitToColumns(c.text, c.columns), c.fitted) << c.text << " in " << c.columns;
    }
}

// Every cut of a mixed text is a whole-character start of it, fits, and is as long as fits.
TEST(LiveViewText, CutsWholeCharactersAsLongAsTheyFit) {
    const std::string text = "Entry 3 (COM7): 플래시 쓰기 0x400 / 0x1000 (25%) 漢字 é";
    for (int columns = 0; columns <= DisplayWidth(text) + 1; ++columns) {
        const std::string cut = FitToColumns(text, columns);
        EXPECT_LE(DisplayWidth(cut), columns);
        ASSERT_EQ(text.compare(0, cut.size(), cut), 0) << columns;
        if (cut.size() == text.size()) {
            continue;
        }
        size_t next = cut.size() + 1;
        while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) {
            ++next;
        }
        EXPECT_NE(static_cast<unsigned char>(text[cut.size()]) & 0xC0, 0x80)
            << "cut inside a sequence at " << columns;
        EXPECT_GT(DisplayWidth(text.substr(0, next)), columns) << "cut short at " << columns;
    }
}

TEST(LiveViewText, RateAndTimeLeft) {
    EXPECT_EQ(RateText(0, 1000), "0 B/s");
    EXPECT_EQ(RateText(512, 1000), "512 B/s");
    EXPECT_EQ(RateText(3072, 2000), "1.5 KiB/s");
    EXPECT_EQ(RateText(3 << 20, 2000), "1.5 MiB/s");
    EXPECT_EQ(RateText(1024, 0), "--");

    EXPECT_EQ(TimeLeftText(0, 0, 0), "0 min 0 sec");
    EXPECT_EQ(TimeLeftText(1024, 0, 5000), "--");
    EXPECT_EQ(TimeLeftText(1024, 1024, 0), "--");
    EXPECT_EQ(TimeLeftText(1 << 20, 1 << 20, 30000), "0 min 30 sec");
    EXPECT_EQ(TimeLeftText(3 << 20, 1 << 20, 40000), "2 min 0 sec");
    EXPECT_EQ(TimeLeftText(1, 1000, 1000), "0 min 1 sec");  // rounded up, never "0" too early
    EXPECT_EQ(TimeLeftText(7500 * 1024, 1024, 1000), "2 h 5 min");
}

TEST(LiveViewRows, EntryRowPutsTheStageFirst) {
    const struct {
        EntryView view;
        std::string row;
    } cases[] = {
        {{"Entry 3 (COM7): 0x400 / 0x1000 (25%)", "25%"}, "Entry 3 (COM7): 25%  0x400 / 0x1000"},
        {{"Entry 5 (COM5): 0x0 / 0x1000 (Erasing Flash...)", "Erasing Flash..."},
         "Entry 5 (COM5): Erasing Flash...  0x0 / 0x1000"},
        {{"Entry 4 (COM4):  (Error!)", "Error!"}, "Entry 4 (COM4): Error!"},
        // Labels of another shape stay as they are.
        {{"Entry 1: (25%)", "25%"}, "Entry 1: (25%)"},
        {{"Entry 1 (COM1): 0x0 / 0x1000 (25%)", "30%"}, "Entry 1 (COM1): 0x0 / 0x1000 (25%)"},
        {{"Entry 1 (COM1)", ""}, "Entry 1 (COM1)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EntryRow(c.view), c.row);
    }
}

TEST(LiveViewRows, SummaryShowsElapsedRateAndTimeLeft) {
    LiveSnapshot image;
    image.elapsedText = " 0 min 12 sec";
    image.bytesAcknowledged = 18 * 1024;
    image.elapsedMs = 12000;
    image.bytesToGo = 45 * 1024;
    EXPECT_EQ(SummaryRow(image), "Elapsed 0 min 12 sec | 1.5 KiB/s | image left: 0 min 30 sec");

    LiveSnapshot run;
    run.partName = "run";
    run.elapsedMs = 500;
    run.bytesToGo = 2048;
    EXPECT_EQ(SummaryRow(run), "0 B/s | run left: --");
}

LiveSnapshot TwentyPhones(const std::string& where) {
    LiveSnapshot snapshot;
    for (int i = 1; i <= 20; ++i) {
        const std::string head = "Entry " + std::to_string(i) + " (COM" + std::to_string(i) + "): ";
        snapshot.entries.push_back({head + where + " (2%)", "2%"});
    }
    snapshot.elapsedText = " 1 min 5 sec";
    snapshot.bytesAcknowledged = 20 << 20;
    snapshot.elapsedMs = 65000;
    snapshot.bytesToGo = 5 << 20;
    return snapshot;
}

TEST(LiveViewRows, TwentyPhonesOneRowEachThenTheSummary) {
    const LiveSnapshot snapshot = TwentyPhones("0x400 / 0x10000");
    const Rows rows = LiveRows(snapshot, {80, 40});
    ASSERT_EQ(rows.size(), 21u);
    for (int i = 0; i < 20; ++i) {
        const std::string n = std::to_string(i + 1);
        EXPECT_EQ(rows[i], "Entry " + n + " (COM" + n + "): 2%  0x400 / 0x10000");
    }
    EXPECT_EQ(rows[20], "Elapsed 1 min 5 sec | 315.1 KiB/s | image left: 0 min 17 sec");
}

// Whatever the terminal's size, no row reaches its last column and the block leaves a line
// for the cursor; entries that do not fit are counted in a row of their own.
TEST(LiveViewRows, BlockFitsTheTerminal) {
    const LiveSnapshot snapshot = TwentyPhones("플래시 쓰는 중 0x400 / 0x10000");
    const TerminalSize sizes[] = {{80, 40}, {30, 12}, {31, 30}, {20, 2}, {1, 1}, {0, 0}};
    for (const TerminalSize size : sizes) {
        const Rows rows = LiveRows(snapshot, size);
        ASSERT_FALSE(rows.empty());
        EXPECT_LE(rows.size(), static_cast<size_t>(std::max(size.rows - 1, 1)));
        for (const auto& row : rows) {
            EXPECT_LE(DisplayWidth(row), std::max(size.columns - 1, 0)) << row;
        }
        EXPECT_EQ(rows.back(), FitToColumns(SummaryRow(snapshot), std::max(size.columns - 1, 0)));
    }
    const Rows narrow = LiveRows(snapshot, {31, 30});
    EXPECT_EQ(narrow[0], "Entry 1 (COM1): 2%  플래시 쓰");
    EXPECT_EQ(narrow[19], "Entry 20 (COM20): 2%  플래시 ");
    const Rows short12 = LiveRows(snapshot, {80, 12});
    ASSERT_EQ(short12.size(), 11u);
    EXPECT_EQ(short12[8], "Entry 9 (COM9): 2%  플래시 쓰는 중 0x400 / 0x10000");
    EXPECT_EQ(short12[9], "... and 11 more");
    EXPECT_EQ(LiveRows(snapshot, {80, 3}), (Rows{"... and 20 more", SummaryRow(snapshot)}));
}

TEST(LiveViewRows, NothingToShowDrawsNoBlock) {
    EXPECT_TRUE(LiveRows(LiveSnapshot{}, {80, 24}).empty());
}

TEST(LiveViewRows, RedrawMovesUpOverTheOldBlockOnly) {
    EXPECT_EQ(RedrawBytes(0, {"Entry 1: a"}, {"r", "s"}), "Entry 1: a\nr\ns\n");
    EXPECT_EQ(RedrawBytes(2, {}, {"r", "s"}), "\033[2A\r\033[Jr\ns\n");
    EXPECT_EQ(RedrawBytes(3, {"Entry 2: b"}, {}), "\033[3A\r\033[JEntry 2: b\n");
}

TEST(LiveViewRows, TerminalKinds) {
    EXPECT_FALSE(TerminalTakesLiveProgress(nullptr));
    EXPECT_FALSE(TerminalTakesLiveProgress(""));
    EXPECT_FALSE(TerminalTakesLiveProgress("dumb"));
    EXPECT_TRUE(TerminalTakesLiveProgress("xterm-256color"));
    EXPECT_TRUE(TerminalTakesLiveProgress("linux"));
}

// The entries' counts as the engine keeps them: only entries still writing have bytes to go,
// in whole blocks of the current image.
TEST(LiveViewEngine, BytesDoneAndToGoFromTheEntries) {
    VirtualClock clock;
    MessageLoop loop(clock, &clock);
    HeadlessHost host(loop, QuestionPolicy::No, false);
    CDloadEngine engine(host, clock);
    engine.byteCount = 10 * 1024 + 100;  // ten whole blocks
    const struct {
        EntryOutcome outcome;
        int step;
        int blockIndex;
        uint64_t bytesWritten;
    } entries[] = {
        {EntryOutcome::Running, DL_PROGRAM, 4, 4096},   // 6 blocks to go
        {EntryOutcome::Running, DL_ERASE, 0, 0},        // 10
        {EntryOutcome::Running, DL_START, 0, 0},        // 10, a later image just begun
        {EntryOutcome::Running, DL_PROGRAM, 11, 1024},  // past the end: none
        {EntryOutcome::Failed, DL_PROGRAM, 2, 2048},    // left the download
        {EntryOutcome::Completed, DL_RESET, 0, 10240},  // done
        {EntryOutcome::Running, DL_WAIT, 3, 3072},      // waits for the others
        {EntryOutcome::Running, DL_RESET, 0, 10240},    // final jump sent
    };
    for (size_t i = 0; i < std::size(entries); ++i) {
        engine.entries[i].outcome = entries[i].outcome;
        engine.entries[i].step = entries[i].step;
        engine.entries[i].blockIndex = entries[i].blockIndex;
        engine.entries[i].bytesWritten = entries[i].bytesWritten;
    }
    EXPECT_EQ(BytesAcknowledged(engine), 30720u);
    EXPECT_EQ(BytesToGo(engine), 26u * 1024);
}

// What a terminal shows after the host's bytes, for the control sequences the live block uses:
// newline (the terminal adds the carriage return), carriage return, cursor up, and clear to the
// end of the screen. Any other sequence, writing over text, a cursor move above the screen's
// top or a line reaching the terminal's last column fails the test.
class Screen {
  public:
    void Resize(TerminalSize size) { size_ = size; }
    const Rows& Lines() const { return lines_; }

    void Feed(const std::string& bytes) {
        for (size_t pos = 0; pos < bytes.size();) {
            const char c = bytes[pos];
            if (c == '\033') {
                pos = Escape(bytes, pos);
            } else if (c == '\n' || c == '\r') {
                LineControl(c);
                ++pos;
            } else {
                const size_t end = bytes.find_first_of("\033\n\r", pos);
                Write(bytes.substr(pos, end - pos));
                pos = end == std::string::npos ? bytes.size() : end;
            }
        }
    }

  private:
    size_t Escape(const std::string& bytes, size_t pos) {
        size_t end = pos + 2;
        while (end < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[end]))) {
            ++end;
        }
        const std::string sequence = bytes.substr(pos, end + 1 - pos);
        if (sequence == "\033[J") {
            EXPECT_EQ(column_, 0) << "clears from the middle of a line";
            lines_.resize(row_);
            lines_.emplace_back();
        } else if (sequence.size() > 3 && sequence.starts_with("\033[") && sequence.back() == 'A') {
            const int up = std::stoi(sequence.substr(2));
            EXPECT_GT(up, 0);
            EXPECT_LT(up, size_.rows) << "cursor moved above the screen";
            row_ -= std::min<size_t>(static_cast<size_t>(up), row_);
        } else {
            ADD_FAILURE() << "unexpected sequence " << sequence.substr(1);
        }
        return end + 1;
    }

    void LineControl(char c) {
        column_ = 0;
        if (c == '\n' && ++row_ == lines_.size()) {
            lines_.emplace_back();
        }
    }

    void Write(const std::string& text) {
        std::string& line = lines_[row_];
        EXPECT_EQ(column_, DisplayWidth(line)) << "writes over \"" << line << "\"";
        line += text;
        column_ = DisplayWidth(line);
        EXPECT_LT(column_, size_.columns) << "reaches the last column: " << line;
    }

    TerminalSize size_;
    Rows lines_{""};
    size_t row_ = 0;
    int column_ = 0;
};

// A host drawing into a pseudo-terminal of a set size, on a virtual clock; the engine's state is
// set by hand, as a download would leave it.
class LiveHost : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty_.Valid()) << pty_.Error();
        slave_ = ::open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(slave_, 0);
        out_ = ::fdopen(slave_, "w");
        ASSERT_NE(out_, nullptr);
        Resize({40, 30});
    }
    void TearDown() override {
        engine_.reset();
        host_.reset();
        if (out_ != nullptr) {
            std::fclose(out_);
        }
    }

    void MakeHost(const char* term, bool terminal = true) {
        engine_.reset();
        const testing::ScopedEnv env("TERM", term);
        host_ = std::make_unique<HeadlessHost>(loop_, QuestionPolicy::No, terminal, out_);
        engine_ = std::make_unique<CDloadEngine>(*host_, clock_);
        host_->AttachEngine(engine_.get());
    }

    void Resize(TerminalSize size) {
        winsize cells{};
        cells.ws_col = static_cast<unsigned short>(size.columns);
        cells.ws_row = static_cast<unsigned short>(size.rows);
        ASSERT_EQ(::ioctl(pty_.MasterFd(), TIOCSWINSZ, &cells), 0);
        screen_.Resize(size);
    }

    // A 64 KiB image on `phones` entries, started now.
    void StartDownload(int phones) {
        engine_->byteCount = engine_->m_dwImageSize = 64 * 1024;
        engine_->blockCount = 64;
        engine_->startClock = clock_.NowMs();
        for (int i = 0; i < phones; ++i) {
            engine_->entries[i].comPort = i + 1;
            engine_->entries[i].outcome = EntryOutcome::Running;
        }
    }

    void Write(int entry, int blocks) {
        engine_->entries[entry].blockIndex += blocks;
        engine_->entries[entry].bytesWritten += static_cast<uint64_t>(blocks) * 1024;
        host_->ShowEntryProgress(entry, PROG_PERCENT, false);
    }

    // Everything the host wrote so far: an end mark follows it through the terminal, and the
    // bytes are read up to the mark.
    std::string Drain() {
        std::fputc('\x01', out_);
        std::fflush(out_);
        std::string got;
        while (got.empty() || got.back() != '\x01') {
            const auto byte = pty_.ReadMaster(1);
            if (byte.empty()) {
                ADD_FAILURE() << "the end mark never came";
                return got;
            }
            got.push_back(static_cast<char>(byte[0]));
        }
        got.pop_back();
        return got;
    }

    // Drains and feeds the screen; returns the bytes.
    std::string Show() {
        const std::string bytes = Drain();
        screen_.Feed(bytes);
        return bytes;
    }

    VirtualClock clock_;
    MessageLoop loop_{clock_, &clock_};
    testing::PtyPair pty_;
    int slave_ = -1;
    std::FILE* out_ = nullptr;
    std::unique_ptr<HeadlessHost> host_;
    std::unique_ptr<CDloadEngine> engine_;
    Screen screen_;
};

TEST_F(LiveHost, RedrawsOneBlockInPlaceAndFollowsTheTerminalSize) {
    MakeHost("xterm");
    StartDownload(20);
    for (int i = 0; i < 20; ++i) {
        Write(i, i);
    }
    host_->SetElapsedText(" 0 min 0 sec");
    host_->AppendStatusItem(2, CTextQItem{TEXT_NOTICE, "플래시 쓰는 중\n"});
    // The first change drew a block at once (entry 1 and the summary); the others waited for
    // the interval, the log line did not.
    EXPECT_NE(Show().find("\033[2A"), std::string::npos);
    Rows lines = screen_.Lines();
    ASSERT_EQ(lines.size(), 23u);
    EXPECT_EQ(lines[0], "Entry 3: 플래시 쓰는 중");
    for (int i = 0; i < 20; ++i) {
        EXPECT_TRUE(lines[1 + i].starts_with("Entry " + std::to_string(i + 1) + " (COM"))
            << lines[1 + i];
    }
    EXPECT_TRUE(lines[21].starts_with("Elapsed 0 min 0 sec | ")) << lines[21];
    EXPECT_EQ(lines[22], "");

    // Narrower, and just tall enough for the block drawn last: a terminal shrunk below that
    // pushes the block's top into its scrollback, where no cursor movement reaches.
    Resize({30, 22});
    clock_.Advance(150);
    Write(5, 3);
    EXPECT_NE(Show().find("\033[21A"), std::string::npos);
    lines = screen_.Lines();
    ASSERT_EQ(lines.size(), 23u);
    EXPECT_EQ(lines[0], "Entry 3: 플래시 쓰는 중");
    EXPECT_EQ(lines[6], "Entry 6 (COM6): 13%  0x2000 /");
    EXPECT_EQ(lines[20], "Entry 20 (COM20): 30%  0x4C00");
    EXPECT_TRUE(lines[21].starts_with("Elapsed 0 min 0 sec | ")) << lines[21];
}

TEST_F(LiveHost, ProgressWaitsForTheIntervalAQuestionGoesBelowAFinishedBlock) {
    MakeHost("xterm");
    StartDownload(2);
    Write(0, 1);
    EXPECT_FALSE(Show().empty());
    clock_.Advance(50);
    Write(1, 1);
    EXPECT_EQ(Show(), "");
    clock_.Advance(50);
    Write(0, 1);
    EXPECT_TRUE(Show().starts_with("\033[2A"));
    clock_.Advance(10);
    Write(1, 1);
    EXPECT_EQ(Show(), "");

    // The question on standard error, here the same terminal, as it is for an operator.
    const int savedError = ::dup(STDERR_FILENO);
    ASSERT_GE(savedError, 0);
    ::dup2(slave_, STDERR_FILENO);
    host_->MessageBox("Continue?", MessageBoxStyle::YesNo);
    ::dup2(savedError, STDERR_FILENO);
    ::close(savedError);
    // The question's Finish drew the change that was waiting, in place.
    EXPECT_TRUE(Show().starts_with("\033[3A"));

    Write(0, 1);
    host_->FinishLiveLine();
    const std::string after = Show();
    EXPECT_TRUE(after.starts_with("Entry 1 (COM1)")) << "moved up over the finished block";
    EXPECT_EQ(Show(), "") << "a second finish draws nothing";
    const Rows& lines = screen_.Lines();
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], "Entry 1 (COM1): 3%  0x800 / 0x10000");
    EXPECT_EQ(lines[1], "Entry 2 (COM2): 3%  0x800 / 0x10000");
    EXPECT_EQ(lines[3], "Continue?");
    EXPECT_EQ(lines[4], "-> No");
    EXPECT_EQ(lines[5], "Entry 1 (COM1): 5%  0xC00 / 0x10000");
    EXPECT_EQ(lines[8], "");
}

// Without a terminal that takes cursor movement, every change is a line of its own, as the
// reports and scripts reading the output expect.
TEST_F(LiveHost, PlainLinesWithoutALiveTerminal) {
    const struct {
        const char* term;
        bool terminal;
    } cases[] = {{"dumb", true}, {nullptr, true}, {"", true}, {"xterm", false}};
    for (const auto& c : cases) {
        MakeHost(c.term, c.terminal);
        StartDownload(1);
        Write(0, 1);
        host_->SetElapsedText(" 0 min 1 sec");
        host_->AppendStatusItem(0, CTextQItem{TEXT_NOTICE, "\n한글 a\nb\n"});
        host_->FinishLiveLine();
        EXPECT_EQ(Drain(),
                  "Entry 1 (COM1): 0x400 / 0x10000 (2%)\n"
                  "Entry 1: 한글 a\n"
                  "Entry 1: b\n")
            << (c.term != nullptr ? c.term : "(unset)");
    }
}

}  // namespace
}  // namespace tarnflow::cli
