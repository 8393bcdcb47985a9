#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/DownloadRun.h"
#include "cli/PortList.h"
#include "platform/Version.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const auto parsed = tarnflow::cli::ParseOptions(args);
    if (parsed.ok && parsed.options.help) {
        std::fputs(tarnflow::cli::UsageText(), stdout);
        return 0;
    }
    if (parsed.ok && parsed.options.version) {
        std::printf("tarnflow-cli %s\n", tarnflow::kTarnflowVersion);
        return 0;
    }
    if (parsed.ok && parsed.options.listPorts) {
        return tarnflow::cli::ListPorts();
    }
    if (!parsed.ok) {
        std::fprintf(stderr, "tarnflow-cli: %s\n\n%s", parsed.error.c_str(),
                     tarnflow::cli::UsageText());
        return 2;
    }
    return tarnflow::cli::RunDownload(parsed.options);
}
