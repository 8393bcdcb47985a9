#include "phonesim/CommandLine.h"

#include <algorithm>
#include <charconv>

#include "phonesim/FaultOption.h"

namespace tarnflow::phonesim {

namespace {

bool ToNumber(const std::string& text, uint32_t& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, ProgramOptions& options,
                      std::string& error) {
    options = {};
    if (std::find(args.begin(), args.end(), "--help") != args.end()) {
        options.help = true;
        return true;
    }
    std::vector<std::string> faults;
    bool havePhones = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name != "--phones" && name != "--device-map" && name != "--baud" &&
            name != "--flash-out" && name != "--fault") {
            error = "unknown option '" + name + "'";
            return false;
        }
        if (i + 1 == args.size()) {
            error = name + " needs a value";
            return false;
        }
        const std::string& value = args[++i];
        uint32_t number = 0;
        if (name == "--phones") {
            if (!ToNumber(value, number) || number < 1 || number > kMaxPhones) {
                error = "--phones takes a number from 1 to " + std::to_string(kMaxPhones);
                return false;
            }
            options.phones = number;
            havePhones = true;
        } else if (name == "--baud") {
            if (!ToNumber(value, number)) {
                error = "--baud takes a bit rate (0: unpaced)";
                return false;
            }
            options.baud = number;
        } else if (name == "--device-map") {
            options.deviceMap = value;
        } else if (name == "--flash-out") {
            options.flashOut = value;
        } else {
            faults.push_back(value);
        }
    }
    if (!havePhones || options.deviceMap.empty()) {
        error = "--phones and --device-map are required";
        return false;
    }
    options.faults.assign(options.phones, FaultSettings{});
    for (const std::string& fault : faults) {
        if (!ApplyFaultOption(fault, options.faults, error)) {
            return false;
        }
    }
    return true;
}

std::string HelpText() {
    return std::string(
               "usage: tarnflow-phonesim --phones N --device-map DIR [--baud B]\n"
               "                         [--flash-out DIR] [--fault PHONE:KIND[:ARG[:ARG]]]...\n"
               "\n"
               "Simulated phone boot loaders on pseudo-terminals. Runs until SIGINT or "
               "SIGTERM.\n"
               "\n"
               "  --phones N        number of phones, 1 to 100\n"
               "  --device-map DIR  folder for the device-map entries DIR/tfusbmd00,\n"
               "                    DIR/tfusbmd01, ... (symbolic links to the phones'\n"
               "                    pseudo-terminals; made if missing, stale links replaced,\n"
               "                    removed at the end)\n"
               "  --baud B          pace input and answers at B bit/s, 10 bits a byte\n"
               "                    (0 or absent: unpaced)\n"
               "  --flash-out DIR   at the end, write what each phone holds into DIR:\n"
               "                      phoneNN-flash-0xAAAAAAAA.bin  one file per run of\n"
               "                        written 1 KiB flash pages, starting at address\n"
               "                        0xAAAAAAAA\n"
               "                      phoneNN-area<k>.bin  VPX area k (1-6) from offset 0 to\n"
               "                        the end of its last written page\n"
               "                    unwritten bytes inside these files are 0xFF\n"
               "  --fault PHONE:KIND[:ARG[:ARG]]  a fault for phone PHONE (0, 1, ... or all);\n"
               "                    repeatable. Requests are counted from 0 in the order\n"
               "                    they arrive; block N is the one written at the erase\n"
               "                    start + N * 1024. KIND is one of:\n") +
           FaultKindsHelp() +
           "  --help            this text\n"
           "\n"
           "Prints one line per phone, 'phone N: /dev/pts/X -> DIR/tfusbmdNN'.\n"
           "Exit status: 0 after a clean stop, 1 when a phone or file cannot be set up or\n"
           "written, 2 for bad options.\n";
}

}  // namespace tarnflow::phonesim
