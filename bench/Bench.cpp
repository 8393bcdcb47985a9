// Measures the download engine against simulated phones run in a separate process (so that
// the processor time counted is the tool's own): per-phone efficiency at line rate, block
// turnaround, processor time per block, peak memory; and the compare of two large images.
//   tarnflow-bench [--phonesim PATH] [--kib K] [--compare-mib M]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/DloadEngine.h"
#include "platform/MessageLoop.h"
#include "platform/PortNames.h"
#include "sampleimages/SampleImages.h"

extern char** environ;

namespace tarnflow {
namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long PeakKib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int64_t NowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A quiet host that notes when each answer was posted and when the engine had sent what the
// answer is for.
class BenchHost : public IEngineHost {
  public:
    explicit BenchHost(MessageLoop& loop) : loop_(loop) {}
    void PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
        if (message == WM_RX_PACKET && wParam < lastPost.size()) {
            lastPost[wParam].store(NowMicros());
        }
        loop_.Post(Message{message, wParam, lParam});
    }
    int MessageBox(const std::string&, MessageBoxStyle style) override {
        return style == MessageBoxStyle::Ok || style == MessageBoxStyle::Information ? IDOK : IDYES;
    }
    void SetTimer(uint32_t id, int ms) override { loop_.SetTimer(id, ms); }
    void KillTimer(uint32_t id) override { loop_.KillTimer(id); }
    void ShowEntryProgress(int, int, bool) override {}
    void UpdateEntryLabels() override {}
    void ResetProgressBars() override {}
    void AppendStatusItem(int, const CTextQItem&) override {}
    void SetElapsedText(const std::string&) override {}
    void UpdateData(bool) override {}

    std::array<std::atomic<int64_t>, kEntryCount> lastPost{};

  private:
    MessageLoop& loop_;
};

struct Simulator {
    pid_t pid = -1;
    std::vector<std::string> links;
};

Simulator StartSimulator(const std::string& program, int phones, int baud,
                         const std::string& folder) {
    Simulator sim;
    const std::string n = std::to_string(phones);
    const std::string b = std::to_string(baud);
    std::vector<std::string> args = {program, "--phones", n, "--device-map", folder, "--baud", b};
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&sim.pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        sim.pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    for (int i = 0; i < phones; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/tfusbmd%02d", i);
        sim.links.push_back(folder + name);
    }
    for (int tries = 0; tries < 200; ++tries) {
        if (std::all_of(sim.links.begin(), sim.links.end(),
                        [](const std::string& l) { return std::filesystem::exists(l); })) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return sim;
}

void StopSimulator(Simulator& sim) {
    if (sim.pid > 0) {
        kill(sim.pid, SIGTERM);
        waitpid(sim.pid, nullptr, 0);
    }
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const size_t at =
        std::min(values.size() - 1, static_cast<size_t>(p * (values.size() - 1) + 0.5));
    return values[at];
}

void RunDownloadBench(const std::string& program, const std::string& image, size_t imageBytes,
                      int phones, int baud) {
    const std::string folder =
        std::filesystem::temp_directory_path() / ("tarnflow-bench-" + std::to_string(getpid()));
    std::filesystem::remove_all(folder);
    Simulator sim = StartSimulator(program, phones, baud, folder);
    if (sim.pid <= 0) {
        std::printf("cannot start %s\n", program.c_str());
        return;
    }
    SteadyClock clock;
    MessageLoop loop(clock);
    BenchHost host(loop);
    CDloadEngine engine(host, clock);
    engine.OnInitDialog();
    engine.selection.check[KIND_CODE_NEW] = 1;
    engine.selection.imagePath[KIND_CODE_NEW] = image;
    std::vector<DeviceMapEntry> map;
    for (const auto& link : sim.links) {
        map.push_back({"tfusbmd", PortNames::PortName(PortNames::NumberFor(link))});
    }
    engine.OnPortSearch(map, "tfusbmd");

    std::array<int64_t, kEntryCount> lastSend{};
    std::vector<double> turnaroundMs;
    const double cpuBefore = CpuSeconds();
    loop.SetHandlers(
        [&](const Message& m) {
            const int i = static_cast<int>(m.wParam);
            const bool packet = m.message == WM_RX_PACKET && i >= 0 && i < kEntryCount;
            const bool programming = packet && engine.entries[i].step == DL_PROGRAM;
            if (programming && lastSend[i] != 0) {
                turnaroundMs.push_back((host.lastPost[i].load() - lastSend[i]) / 1000.0);
            }
            engine.OnMessage(m);
            if (packet) {
                lastSend[i] = NowMicros();
            }
            if (!engine.DownloadRunning()) {
                loop.Quit();
            }
        },
        [&](uint32_t id) {
            engine.OnTimer(id);
            if (!engine.DownloadRunning()) {
                loop.Quit();
            }
        });
    engine.OnDownload();
    loop.Run(clock.NowMs() + 30 * 60 * 1000);
    const double cpu = CpuSeconds() - cpuBefore;

    int completed = 0;
    std::vector<double> efficiency;
    uint64_t blocks = 0;
    for (const auto& e : engine.entries) {
        if (e.outcome != EntryOutcome::Completed) {
            continue;
        }
        ++completed;
        blocks += e.bytesWritten / kBlockSize;
        if (baud > 0 && e.endMs > e.startMs) {
            const double lineSeconds = e.bytesWritten * 10.0 / baud;
            efficiency.push_back(lineSeconds / ((e.endMs - e.startMs) / 1000.0));
        }
    }
    engine.OnClose();
    StopSimulator(sim);
    std::filesystem::remove_all(folder);

    std::printf("%2d phone(s), %s: %d/%d completed", phones,
                baud > 0 ? ("paced " + std::to_string(baud)).c_str() : "unpaced", completed,
                phones);
    if (!efficiency.empty()) {
        std::printf(", efficiency min %.3f median %.3f", Percentile(efficiency, 0),
                    Percentile(efficiency, 0.5));
    }
    std::printf(", turnaround median %.2f ms p99 %.2f ms", Percentile(turnaroundMs, 0.5),
                Percentile(turnaroundMs, 0.99));
    std::printf(", cpu %.3f s (%.1f us/block, %.2f %% of one core)", cpu,
                blocks ? cpu * 1e6 / blocks : 0.0,
                engine.entries[0].endMs > engine.entries[0].startMs
                    ? 100.0 * cpu / ((engine.entries[0].endMs - engine.entries[0].startMs) / 1000.0)
                    : 0.0);
    std::printf(", peak rss %ld KiB (%zu KiB image)\n", PeakKib(), imageBytes / 1024);
    std::fflush(stdout);
}

void RunCompareBench(size_t mib) {
    const std::string folder =
        std::filesystem::temp_directory_path() / ("tarnflow-compare-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const size_t size = mib * 1024 * 1024;
    auto next = sample::PhoneCodeImage(size, 0, 5);
    auto old = next;
    for (size_t window = 3; window * 0x20000 < size; window += 97) {
        old[window * 0x20000 + 17] ^= 0xFF;
    }
    sample::WriteFile(folder + "/new.bin", next);
    sample::WriteFile(folder + "/old.bin", old);
    next.clear();
    next.shrink_to_fit();
    old.clear();
    old.shrink_to_fit();

    SteadyClock clock;
    MessageLoop loop(clock);
    BenchHost host(loop);
    CDloadEngine engine(host, clock);
    engine.selection.m_nDloadType = DOWNLOAD_COMPARE;
    engine.selection.imagePath[KIND_CODE_NEW] = folder + "/new.bin";
    engine.selection.imagePath[KIND_CODE_OLD] = folder + "/old.bin";
    const long rssBefore = PeakKib();
    const double before = CpuSeconds();
    engine.OnCompare();
    const double cpu = CpuSeconds() - before;
    std::printf(
        "compare of two %zu MiB images: %d runs, %d windows, cpu %.3f s, peak rss %ld KiB "
        "(before %ld KiB)\n",
        mib, engine.runCount, engine.SumRunBlocks(engine.runCount), cpu, PeakKib(), rssBefore);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tarnflow

int main(int argc, char** argv) {
    std::string program = std::filesystem::path(argv[0]).parent_path() / "tarnflow-phonesim";
    size_t kib = 64;
    size_t compareMib = 64;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--phonesim") {
            program = argv[i + 1];
        } else if (arg == "--kib") {
            kib = std::strtoul(argv[i + 1], nullptr, 10);
        } else if (arg == "--compare-mib") {
            compareMib = std::strtoul(argv[i + 1], nullptr, 10);
        }
    }
    const std::string image = std::filesystem::temp_directory_path() /
                              ("tarnflow-bench-image-" + std::to_string(getpid()));
    const size_t size = std::max<size_t>(kib, 2) * 1024;
    tarnflow::sample::WriteFile(image, tarnflow::sample::PhoneCodeImage(size, 0, 9));
    for (int phones : {1, 20}) {
        for (int baud : {0, 57600}) {
            tarnflow::RunDownloadBench(program, image, size, phones, baud);
        }
    }
    std::filesystem::remove(image);
    tarnflow::RunCompareBench(compareMib);
    return 0;
}
