#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "phonesim/CommandLine.h"
#include "phonesim/DeviceLink.h"
#include "phonesim/FlashFiles.h"
#include "phonesim/Phone.h"

using namespace tarnflow::phonesim;

namespace {

void StopAll(std::vector<std::unique_ptr<Phone>>& phones) {
    for (auto& phone : phones) {
        phone->Stop();
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    ProgramOptions options;
    std::string error;
    if (!ParseCommandLine(args, options, error)) {
        std::fprintf(stderr, "tarnflow-phonesim: %s (see tarnflow-phonesim --help)\n",
                     error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(HelpText().c_str(), stdout);
        return 0;
    }

    // Blocked before any phone thread starts, so only sigwait below takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::error_code ec;
    std::filesystem::create_directories(options.deviceMap, ec);
    if (ec) {
        std::fprintf(stderr, "tarnflow-phonesim: %s: %s\n", options.deviceMap.c_str(),
                     ec.message().c_str());
        return 1;
    }
    std::vector<std::unique_ptr<Phone>> phones;
    for (unsigned i = 0; i < options.phones; ++i) {
        PhoneOptions phoneOptions{
            options.baud, options.faults[i],
            (std::filesystem::path(options.deviceMap) / DeviceLinkName(i)).string()};
        auto phone = std::make_unique<Phone>();
        if (!phone->Start(phoneOptions)) {
            std::fprintf(stderr, "tarnflow-phonesim: phone %u: %s\n", i, phone->Error().c_str());
            StopAll(phones);
            return 1;
        }
        std::printf("phone %u: %s -> %s\n", i, phone->SlavePath().c_str(),
                    phone->DeviceLink().c_str());
        phones.push_back(std::move(phone));
    }
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    StopAll(phones);

    int status = 0;
    if (!options.flashOut.empty()) {
        for (unsigned i = 0; i < phones.size(); ++i) {
            if (!WriteFlashFiles(options.flashOut, i, phones[i]->Memory(), error)) {
                std::fprintf(stderr, "tarnflow-phonesim: %s\n", error.c_str());
                status = 1;
            }
        }
    }
    return status;
}
