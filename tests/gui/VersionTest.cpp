#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/Version.h"

namespace {

// Runs the window program with no display at all and returns its standard output.
std::string RunWithoutDisplay(const std::string& option, int& status) {
    const std::string program = TARNFLOW_BUILD_DIR "/bin/tarnflow";
    const std::string command =
        "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + program + " " + option;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        status = -1;
        return "";
    }
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        output += buffer;
    }
    status = pclose(pipe);
    return output;
}

TEST(WindowProgram, AnswersVersionAndHelpWithoutADisplay) {
    int status = -1;
    EXPECT_EQ(RunWithoutDisplay("--version", status),
              std::string("tarnflow ") + tarnflow::kTarnflowVersion + "\n");
    EXPECT_EQ(status, 0);
    const std::string usage = RunWithoutDisplay("--help", status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(usage.find("--version"), std::string::npos) << usage;
}

}  // namespace
