#include "cli/CliOptions.h"

#include "engine/ImageFiles.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>

namespace tarnflow::cli {

namespace {

struct ImageOption {
    const char* name;
    int kind;
};

constexpr ImageOption kImageOptions[] = {
    {"--code", KIND_CODE_NEW},
    {"--old", KIND_CODE_OLD},
    {"--font", KIND_FONT},
    {"--vpx-boot", KIND_VPX_BOOT},
    {"--vpx-code", KIND_VPX_CODE},
    {"--vpx-font", KIND_VPX_FONT},
    {"--vpx-contents", KIND_VPX_CONTENTS},
    {"--vpx-lfs", KIND_VPX_LFS},
    {"--vpx-factoryfs", KIND_VPX_FACTORYFS},
};

// The options other than the images that take a value, and what that value is.
struct ValueOption {
    const char* name;
    const char* needs;
};

constexpr ValueOption kValueOptions[] = {
    {"--font-address", "a hexadecimal address"},
    {"--type", "emergency, change or compare"},
    {"--port", "a device path"},
    {"--wait-ports", "a count from 1 to 20"},
    {"--wait-seconds", "a number of seconds"},
    {"--json", "a file"},
};

constexpr const char* kFlags[] = {"--boot-change", "--search",  "--yes",       "--no",
                                  "-h,--help",     "--version", "--list-ports"};

// The values read as text, turned into settings once CLI11 has read them all.
struct ValueWords {
    std::string type;
    std::string waitPorts;
    std::string waitSeconds;
};

bool ParseCount(const std::string& text, int low, int high, int& value) {
    if (text.empty() || !std::all_of(text.begin(), text.end(),
                                     [](unsigned char c) { return std::isdigit(c) != 0; })) {
        return false;
    }
    const long parsed = std::strtol(text.c_str(), nullptr, 10);
    if (parsed < low || parsed > high || text.size() > 9) {
        return false;
    }
    value = static_cast<int>(parsed);
    return true;
}

// What the option's value is, or null for an option that takes none.
const char* NeededValue(std::string_view name) {
    const bool image = std::any_of(std::begin(kImageOptions), std::end(kImageOptions),
                                   [&](const ImageOption& opt) { return name == opt.name; });
    if (image) {
        return "a file";
    }
    const auto other = std::find_if(std::begin(kValueOptions), std::end(kValueOptions),
                                    [&](const ValueOption& opt) { return name == opt.name; });
    return other == std::end(kValueOptions) ? nullptr : other->needs;
}

// CLI11 drops an empty value and reads "--opt=" as "--opt" taking the next word, so a missing or
// empty value is refused here first. Like CLI11, "--opt WORD" takes WORD whatever it looks like.
std::string CheckValuesPresent(const std::vector<std::string>& args) {
    for (size_t i = 0; i < args.size() && args[i] != "--"; ++i) {
        const std::string& arg = args[i];
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const char* needs = NeededValue(name);
        if (needs == nullptr) {
            continue;
        }
        const bool present = equals != std::string::npos
                                 ? equals + 1 < arg.size()
                                 : i + 1 < args.size() && !args[i + 1].empty();
        if (!present) {
            return name + " needs " + needs;
        }
        if (equals == std::string::npos) {
            ++i;
        }
    }
    return "";
}

void AddOptions(CLI::App& app, CliOptions& o, ValueWords& words) {
    app.set_help_flag();  // the usage text is our own, so --help is an ordinary flag
    app.allow_extras();   // unknown words are reported by name after the parse
    // A repeated option takes its last value, and "--search=false" is refused, not a search.
    app.option_defaults()
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->disable_flag_override();
    for (const ImageOption& image : kImageOptions) {
        app.add_option(image.name, o.selection.imagePath[image.kind]);
    }
    app.add_option("--font-address", o.selection.m_strFontAddress);
    app.add_option("--type", words.type);
    app.add_option("--port", o.ports)->allow_extra_args(false);  // one path per --port
    app.add_option("--wait-ports", words.waitPorts);
    app.add_option("--wait-seconds", words.waitSeconds);
    app.add_option("--json", o.jsonPath);
    for (const char* flag : kFlags) {
        app.add_flag(flag);
    }
}

bool ParseType(const std::string& text, int& type) {
    if (text == "emergency") {
        type = 0;
    } else if (text == "change") {
        type = 1;
    } else if (text == "compare") {
        type = DOWNLOAD_COMPARE;
    } else {
        return false;
    }
    return true;
}

std::string ApplyWords(const CLI::App& app, const ValueWords& words, CliOptions& o) {
    if (app.count("--type") && !ParseType(words.type, o.selection.m_nDloadType)) {
        return "unknown download type: " + words.type;
    }
    if (app.count("--wait-ports") && !ParseCount(words.waitPorts, 1, kEntryCount, o.waitPorts)) {
        return "--wait-ports needs a count from 1 to 20";
    }
    if (app.count("--wait-seconds") && !ParseCount(words.waitSeconds, 1, 86400, o.waitSeconds)) {
        return "--wait-seconds needs a number of seconds";
    }
    return "";
}

std::string ApplyFlags(const CLI::App& app, CliOptions& o) {
    const size_t answers = app.count("--yes") + app.count("--no");
    if (answers > 1) {
        return "give --yes or --no once";
    }
    if (answers == 1) {
        o.questions = app.count("--yes") ? QuestionPolicy::Yes : QuestionPolicy::No;
        o.questionsGiven = true;
    }
    o.selection.m_bChangeBootArea = app.count("--boot-change") ? 1 : 0;
    o.search = app.count("--search") > 0;
    o.help = app.count("--help") > 0;
    o.version = app.count("--version") > 0;
    o.listPorts = app.count("--list-ports") > 0;
    return "";
}

std::string ReadOptions(const std::vector<std::string>& args, CliOptions& o) {
    CLI::App app;
    ValueWords words;
    AddOptions(app, o, words);
    std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 reads from the back
    try {
        app.parse(reversed);
    } catch (const CLI::Error& error) {
        return error.what();
    }
    const std::vector<std::string> unknown = app.remaining();
    if (!unknown.empty()) {
        return "unknown option: " + unknown.front();
    }
    for (const ImageOption& image : kImageOptions) {
        o.selection.check[image.kind] = app.count(image.name) ? 1 : 0;
    }
    const std::string error = ApplyWords(app, words, o);
    return error.empty() ? ApplyFlags(app, o) : error;
}

// The checks across options, for a run that downloads.
std::string CheckRun(const CliOptions& o) {
    const int sources = (o.ports.empty() ? 0 : 1) + (o.search ? 1 : 0) + (o.waitPorts ? 1 : 0);
    if (sources != 1) {
        return "give the phones' ports one way: --port PATH..., --search or --wait-ports N";
    }
    if (o.ports.size() > static_cast<size_t>(kEntryCount)) {
        return "at most 20 ports";
    }
    if (!o.selection.check[KIND_FONT] && !o.selection.m_strFontAddress.empty()) {
        return "--font-address belongs to --font";
    }
    return "";
}

}  // namespace

std::string CheckSelection(const DownloadSelection& selection) {
    if (selection.IsPhoneImageChosen() == selection.IsVpxImageChosen()) {
        return selection.IsPhoneImageChosen()
                   ? "Choose images of one group only: Phone (--code, --font) or VPX (--vpx-*)."
                   : "No image chosen: give --code, --font or one of the --vpx-* images.";
    }
    for (int kind = 0; kind < kImageKindCount; ++kind) {
        if (selection.check[kind] && !HasImageExtension(selection.imagePath[kind], kind)) {
            return "다운로드용 파일이 아닙니다.\n" + selection.imagePath[kind];
        }
    }
    if (selection.m_bChangeBootArea && !selection.check[KIND_CODE_NEW]) {
        return "--boot-change needs --code.";
    }
    if (selection.m_nDloadType == DOWNLOAD_COMPARE &&
        (!selection.check[KIND_CODE_NEW] || !selection.check[KIND_CODE_OLD])) {
        return "--type compare needs --code and --old.";
    }
    return "";
}

ParseResult ParseOptions(const std::vector<std::string>& args) {
    ParseResult result;
    CliOptions& o = result.options;
    result.error = CheckValuesPresent(args);
    if (result.error.empty()) {
        result.error = ReadOptions(args, o);
    }
    if (result.error.empty() && !o.help && !o.version && !o.listPorts) {
        result.error = CheckRun(o);
    }
    result.ok = result.error.empty();
    return result;
}

const char* UsageText() {
    return R"(usage: tarnflow-cli IMAGES [--type emergency|change|compare] PORTS [options]

Writes firmware images into phones through their serial boot loaders, up to twenty at once.

Images (one group only):
  Phone:  --code FILE.bin [--boot-change]    Phone Code (NEW), optionally with its boot area
          --font FILE.bin --font-address HEX  Phone Font at a hexadecimal address (no 0x)
          --old FILE.bin                      Phone Code (OLD), compared with --code
  VPX:    --vpx-boot FILE.bin  --vpx-code FILE.bin  --vpx-font FILE.bin
          --vpx-contents FILE.rbin  --vpx-lfs FILE.lfs  --vpx-factoryfs FILE.ffs
  --type emergency|change|compare   download type (default emergency); compare compares
                                    --old with --code first and writes only what changed
Ports (one way):
  --port PATH            a phone's serial device; repeat for more, one entry each, in order
  --search               Port Search: the tagged devices of the device map
                         (TARNFLOW_DEVICE_MAP folder, else udev's ttys; tag
                         TARNFLOW_DEVICE_TAG, default "tfusbmd")
  --wait-ports N         wait for N tagged phones, counting those already plugged in;
                         one that unplugs frees its entry
  --wait-seconds S       how long --wait-ports waits (default 60); with fewer phones the
                         download runs on those present and the exit status is 1
Questions (start address, model version):
  --yes | --no           answer them; without, asked on the terminal, else No
Output:
  --json FILE            write the run's report (JSON, see docs/report.md); every run is
                         also appended to the history file (TARNFLOW_HISTORY, default
                         ~/.local/state/tarnflow/history.jsonl; empty: none)
Other:
  --list-ports           list what Port Search sees, one line per serial device: device
                         name, node, COM number, socket, VID:PID, serial and whether it
                         carries the driver tag; then exit
  --help, -h             show this text
  --version              show the program's version
An option's value may follow it (--port PATH) or be joined with = (--port=PATH).
Exit status: 0 every phone completed; 1 a phone failed, fewer phones arrived than awaited or
             the download was refused; 2 bad usage, an image refused for what the file is
             or a report that cannot be written; 128 + N stopped by signal N (130 Ctrl-C).
)";
}

}  // namespace tarnflow::cli
