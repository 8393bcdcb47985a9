#include "cli/CliOptions.h"

#include "engine/ImageFiles.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

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
    auto fail = [&](const std::string& error) {
        result.ok = false;
        result.error = error;
        return result;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string text;
        if (arg == "--help" || arg == "-h") {
            o.help = true;
            continue;
        }
        const auto image = std::find_if(std::begin(kImageOptions), std::end(kImageOptions),
                                        [&](const ImageOption& opt) { return arg == opt.name; });
        if (image != std::end(kImageOptions)) {
            if (!value(text)) {
                return fail(arg + " needs a file");
            }
            o.selection.check[image->kind] = 1;
            o.selection.imagePath[image->kind] = text;
        } else if (arg == "--boot-change") {
            o.selection.m_bChangeBootArea = 1;
        } else if (arg == "--font-address") {
            if (!value(text)) {
                return fail("--font-address needs a hexadecimal address");
            }
            o.selection.m_strFontAddress = text;
        } else if (arg == "--type") {
            if (!value(text)) {
                return fail("--type needs emergency, change or compare");
            }
            if (text == "emergency") {
                o.selection.m_nDloadType = 0;
            } else if (text == "change") {
                o.selection.m_nDloadType = 1;
            } else if (text == "compare") {
                o.selection.m_nDloadType = DOWNLOAD_COMPARE;
            } else {
                return fail("unknown download type: " + text);
            }
        } else if (arg == "--port") {
            if (!value(text)) {
                return fail("--port needs a device path");
            }
            o.ports.push_back(text);
        } else if (arg == "--search") {
            o.search = true;
        } else if (arg == "--wait-ports") {
            if (!value(text) || !ParseCount(text, 1, kEntryCount, o.waitPorts)) {
                return fail("--wait-ports needs a count from 1 to 20");
            }
        } else if (arg == "--wait-seconds") {
            if (!value(text) || !ParseCount(text, 1, 86400, o.waitSeconds)) {
                return fail("--wait-seconds needs a number of seconds");
            }
        } else if (arg == "--yes" || arg == "--no") {
            if (o.questionsGiven) {
                return fail("give --yes or --no once");
            }
            o.questions = arg == "--yes" ? QuestionPolicy::Yes : QuestionPolicy::No;
            o.questionsGiven = true;
        } else if (arg == "--json") {
            if (!value(o.jsonPath)) {
                return fail("--json needs a file");
            }
        } else {
            return fail("unknown option: " + arg);
        }
    }
    if (o.help) {
        result.ok = true;
        return result;
    }
    const int sources = (o.ports.empty() ? 0 : 1) + (o.search ? 1 : 0) + (o.waitPorts ? 1 : 0);
    if (sources != 1) {
        return fail("give the phones' ports one way: --port PATH..., --search or --wait-ports N");
    }
    if (o.ports.size() > static_cast<size_t>(kEntryCount)) {
        return fail("at most 20 ports");
    }
    if (!o.selection.check[KIND_FONT] && !o.selection.m_strFontAddress.empty()) {
        return fail("--font-address belongs to --font");
    }
    result.ok = true;
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
                         (TARNFLOW_DEVICE_MAP folder, else /sys/class/tty; tag
                         TARNFLOW_DEVICE_TAG, default "tfusbmd")
  --wait-ports N         take the first N ports that arrive
  --wait-seconds S       how long --wait-ports waits (default 60)
Questions (start address, model version):
  --yes | --no           answer them; without, asked on the terminal, else No
Output:
  --json FILE            report per entry: port, outcome, bytes written, retries, seconds
Exit status: 0 every phone completed, 1 a phone failed or the download was refused,
             2 bad usage or an unreadable image.
)";
}

}  // namespace tarnflow::cli
