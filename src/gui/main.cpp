#include <cstdio>
#include <string_view>

#include "gui/Tarnflow.h"
#include "platform/Version.h"

namespace {

constexpr const char* kUsage = R"(usage: tarnflow [--help | --version]

Opens Tarnflow's window, which writes firmware images into up to twenty phones at once.
  --help, -h   show this text
  --version    show the program's version
For downloads without a window, see tarnflow-cli --help.
)";

// Answers --help and --version; false when the window should open.
bool AnswerWithoutWindow(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--version") {
            std::printf("tarnflow %s\n", tarnflow::kTarnflowVersion);
            return true;
        }
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // Before the QApplication, which would need a display.
    if (AnswerWithoutWindow(argc, argv)) {
        return 0;
    }
    tarnflow::CTarnflowApp app(argc, argv);
    return app.InitInstance();
}
