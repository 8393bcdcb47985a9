#include "engine/ProgressFormat.h"

#include <cstdio>

#include "comm/QTextQ.h"
#include "engine/EntryRecord.h"

namespace tarnflow {

int ProgressPercent(int blockIndex, int blockCount) {
    if (blockCount <= 0) {
        return 0;
    }
    const int64_t numerator = int64_t{blockIndex} * 100 + blockCount / 2;
    return static_cast<int>(numerator / blockCount);
}

ProgressView DescribeProgress(const ProgressInput& in) {
    ProgressView view;
    view.position = 100;
    switch (in.stage) {
        case PROG_ERROR:
            view.barColor = kDarkRed;
            view.buttonFaceBackground = true;
            view.stageText = "Error!";
            break;
        case PROG_ERASING:
            view.barColor = kGreen;
            view.stageText = "Erasing Flash...";
            break;
        case PROG_PREPARING:
            view.barColor = kYellow;
            view.stageText = "Preparing...";
            break;
        case PROG_NEXT_STEP:
            view.barColor = kYellow;
            view.stageText = "Preparing Next Step...";
            break;
        case PROG_PERCENT: {
            view.barColor = kNavy;
            view.position = ProgressPercent(in.blockIndex, in.blockCount);
            view.stageText = std::to_string(view.position) + "%";
            break;
        }
        default:
            view.barColor = kNavy;
            view.stageText = "Download Completed.";
            break;
    }
    char head[48];
    std::snprintf(head, sizeof head, "Entry %d (COM%d): ", in.entry + 1, in.comPort);
    char where[48] = "";
    if (in.stage != PROG_ERROR) {
        const uint32_t reached = in.blockBase + static_cast<uint32_t>(in.blockIndex) * 1024u;
        std::snprintf(where, sizeof where, "0x%lX / 0x%lX", static_cast<unsigned long>(reached),
                      static_cast<unsigned long>(in.imageSize));
    }
    view.label = std::string(head) + where + " (" + view.stageText + ")";
    return view;
}

int StageForStep(int step) {
    switch (step) {
        case DL_START2:
        case DL_ERASE:
            return PROG_ERASING;
        case DL_WAIT:
            return PROG_PREPARING;
        case DL_RESET:
            return PROG_COMPLETED;
        default:
            return PROG_PERCENT;
    }
}

Rgb ColorForTextType(int type) {
    switch (type) {
        case TEXT_ERROR:
            return kRed;
        case TEXT_PROGRESS:
            return kBlack;
        default:
            return kBlue;
    }
}

std::string EntryLabel(int entry, int comPort) {
    char text[32];
    if (comPort != 0) {
        std::snprintf(text, sizeof text, "Entry %d (COM%d)", entry + 1, comPort);
    } else {
        std::snprintf(text, sizeof text, "Entry %d", entry + 1);
    }
    return text;
}

}  // namespace tarnflow
