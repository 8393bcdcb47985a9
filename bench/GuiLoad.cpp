// The window under load: twenty simulated phones (a separate tarnflow-phonesim process, paced at
// the line rate) downloading from the real window, offscreen. Measures how late a 100 ms timer of
// the window's thread fires while the download runs, how the update interval follows the load, and
// whether the logs keep up.
//   tarnflow-gui-bench [--phonesim PATH] [--phones N] [--kib K]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "gui/TarnflowDlg.h"
#include "sampleimages/SampleImages.h"

extern char** environ;

namespace {

class BenchDialogs : public tarnflow::IDialogs {
  public:
    explicit BenchDialogs(std::string image) : image_(std::move(image)) {}
    int MessageBox(QWidget*, const std::string& text, tarnflow::MessageBoxStyle) override {
        std::printf("box: %s\n", text.c_str());
        return tarnflow::IDOK;
    }
    std::optional<std::string> OpenFile(QWidget*, const std::string&, const std::string&,
                                        const std::string&) override {
        return image_;
    }
    void About(QWidget*) override {}

  private:
    std::string image_;
};

}  // namespace

int main(int argc, char** argv) {
    std::string program = std::filesystem::path(argv[0]).parent_path() / "tarnflow-phonesim";
    int phones = 20;
    size_t kib = 32;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--phonesim") {
            program = argv[i + 1];
        } else if (arg == "--phones") {
            phones = std::atoi(argv[i + 1]);
        } else if (arg == "--kib") {
            kib = std::strtoul(argv[i + 1], nullptr, 10);
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const std::string folder =
        std::filesystem::temp_directory_path() / ("tarnflow-gui-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder + "/map");
    const std::string image = folder + "/code.bin";
    tarnflow::sample::WriteFile(image, tarnflow::sample::PhoneCodeImage(kib * 1024, 0, 21));
    setenv("TARNFLOW_DEVICE_MAP", (folder + "/map").c_str(), 1);
    setenv("TARNFLOW_CONFIG", (folder + "/registry.ini").c_str(), 1);

    std::vector<std::string> args = {program,        "--phones",      std::to_string(phones),
                                     "--device-map", folder + "/map", "--baud",
                                     "57600"};
    std::vector<char*> argvSim;
    for (auto& a : args) {
        argvSim.push_back(a.data());
    }
    argvSim.push_back(nullptr);
    pid_t sim = -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&sim, program.c_str(), &actions, nullptr, argvSim.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", program.c_str());
        return 1;
    }
    posix_spawn_file_actions_destroy(&actions);
    for (int tries = 0; tries < 200; ++tries) {
        size_t links = 0;
        for ([[maybe_unused]] const auto& entry :
             std::filesystem::directory_iterator(folder + "/map")) {
            ++links;
        }
        if (links >= static_cast<size_t>(phones)) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }

    QApplication app(argc, argv);
    BenchDialogs dialogs(image);
    tarnflow::CTarnflowDlg window(dialogs);
    window.show();
    window.OnPortSearch();
    qobject_cast<QAbstractButton*>(window.Control(tarnflow::IDC_CODE_NEW))->click();
    auto& engine = window.Engine();

    std::vector<double> lateness;
    std::vector<int> intervals;
    QElapsedTimer clock;
    QTimer probe;
    qint64 last = 0;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (last != 0) {
            lateness.push_back(static_cast<double>(now - last - 100));
        }
        last = now;
        intervals.push_back(engine.ladder.Interval());
        if (!engine.DownloadRunning()) {
            app.quit();
        }
    });
    clock.start();
    window.OnDownload();
    probe.start(100);
    app.exec();
    const double seconds = clock.elapsed() / 1000.0;

    int completed = 0;
    size_t queued = 0;
    for (const auto& entry : engine.entries) {
        completed += entry.outcome == tarnflow::EntryOutcome::Completed ? 1 : 0;
        queued += entry.textQueue.GetCount();
    }
    std::sort(lateness.begin(), lateness.end());
    const auto at = [&](double p) {
        return lateness.empty() ? 0.0
                                : lateness[std::min(lateness.size() - 1,
                                                    static_cast<size_t>(p * lateness.size()))];
    };
    std::printf(
        "%d phones paced at 57600, %zu KiB each: %d completed in %.1f s; 100 ms timer "
        "late by median %.1f ms, p99 %.1f ms, max %.1f ms; update interval %d..%d ms; "
        "%zu status texts still queued at the end\n",
        phones, kib, completed, seconds, at(0.5), at(0.99),
        lateness.empty() ? 0.0 : lateness.back(),
        intervals.empty() ? 0 : *std::min_element(intervals.begin(), intervals.end()),
        intervals.empty() ? 0 : *std::max_element(intervals.begin(), intervals.end()), queued);
    window.close();
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);
    std::filesystem::remove_all(folder);
    return completed == phones ? 0 : 1;
}
