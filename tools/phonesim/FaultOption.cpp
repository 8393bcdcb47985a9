#include "phonesim/FaultOption.h"

#include <charconv>
#include <cstdint>
#include <optional>

namespace tarnflow::phonesim {

namespace {

using Fields = std::vector<std::string_view>;

Fields Split(std::string_view text) {
    Fields fields;
    for (size_t start = 0;;) {
        const size_t colon = text.find(':', start);
        fields.push_back(text.substr(start, colon - start));
        if (colon == std::string_view::npos) {
            return fields;
        }
        start = colon + 1;
    }
}

std::optional<uint32_t> Number(std::string_view text) {
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<AnswerFaultKind> NakKind(std::string_view kind) {
    if (kind == "nak-resend") {
        return AnswerFaultKind::NakResend;
    }
    if (kind == "nak-model") {
        return AnswerFaultKind::NakModelMismatch;
    }
    if (kind == "nak-invalid") {
        return AnswerFaultKind::NakInvalidCmd;
    }
    if (kind == "nak-failed") {
        return AnswerFaultKind::NakFailed;
    }
    return std::nullopt;
}

bool ParseNak(AnswerFaultKind kind, const Fields& args, FaultSettings& out) {
    const bool mayBeDamaged =
        kind == AnswerFaultKind::NakInvalidCmd || kind == AnswerFaultKind::NakFailed;
    if (args.size() < 2 || args.size() > (mayBeDamaged ? 3u : 2u)) {
        return false;
    }
    AnswerFault fault{kind};
    if (args[0] == "block") {
        fault.target = FaultTarget::Block;
    } else if (args[0] != "request") {
        return false;
    }
    const std::optional<uint32_t> index = Number(args[1]);
    if (!index || (args.size() == 3 && args[2] != "damaged")) {
        return false;
    }
    fault.index = *index;
    fault.damaged = args.size() == 3;
    out.answerFaults.push_back(fault);
    return true;
}

// Kinds with no argument, or with one number (xoff-hold: two).
bool ParseSimple(std::string_view kind, const Fields& args, FaultSettings& out) {
    if (kind == "raw-xonxoff" || kind == "xoff-during-erase") {
        (kind == "raw-xonxoff" ? out.rawXonXoff : out.xoffDuringErase) = true;
        return args.empty();
    }
    if (args.empty() || args.size() > 2) {
        return false;
    }
    if (kind == "xoff-hold") {
        const std::optional<uint32_t> place = Number(args[0]);
        const std::optional<uint32_t> ms = args.size() == 2 ? Number(args[1]) : std::nullopt;
        if (!place || !ms) {
            return false;
        }
        out.xoffHold = XoffHold{*place, *ms};
        return true;
    }
    const std::optional<uint32_t> n = Number(args[0]);
    if (!n) {
        return false;
    }
    if (kind == "lose-block-answer") {
        if (args.size() == 2 && args[1] != "always") {
            return false;
        }
        out.answerFaults.push_back(
            {AnswerFaultKind::Lose, FaultTarget::Block, *n, args.size() == 2, false});
        return true;
    }
    if (args.size() != 1) {
        return false;
    }
    if (kind == "silent-request") {
        out.silentFromRequest = n;
    } else if (kind == "silent-block") {
        out.silentFromBlock = n;
    } else if (kind == "unplug-block") {
        out.unplugAtBlock = n;
    } else if (kind == "slow-erase") {
        out.slowEraseMs = *n;
    } else if (kind == "damage-request-answer" || kind == "damage-block-answer") {
        const FaultTarget target =
            kind == "damage-block-answer" ? FaultTarget::Block : FaultTarget::Request;
        out.answerFaults.push_back({AnswerFaultKind::Damage, target, *n, false, false});
    } else {
        return false;
    }
    return true;
}

void Merge(const FaultSettings& add, FaultSettings& into) {
    if (add.silentFromRequest) {
        into.silentFromRequest = add.silentFromRequest;
    }
    if (add.silentFromBlock) {
        into.silentFromBlock = add.silentFromBlock;
    }
    if (add.unplugAtBlock) {
        into.unplugAtBlock = add.unplugAtBlock;
    }
    into.answerFaults.insert(into.answerFaults.end(), add.answerFaults.begin(),
                             add.answerFaults.end());
    if (add.slowEraseMs != 0) {
        into.slowEraseMs = add.slowEraseMs;
    }
    into.rawXonXoff = into.rawXonXoff || add.rawXonXoff;
    into.xoffDuringErase = into.xoffDuringErase || add.xoffDuringErase;
    if (add.xoffHold) {
        into.xoffHold = add.xoffHold;
    }
}

}  // namespace

bool ApplyFaultOption(std::string_view text, std::vector<FaultSettings>& phones, std::string& error) {
    const Fields fields = Split(text);
    error = "bad fault '" + std::string(text) + "'";
    if (fields.size() < 2) {
        return false;
    }
    const bool all = fields[0] == "all";
    const std::optional<uint32_t> phone = Number(fields[0]);
    if (!all && (!phone || *phone >= phones.size())) {
        error += ": no phone " + std::string(fields[0]);
        return false;
    }
    const std::string_view kind = fields[1];
    const Fields args(fields.begin() + 2, fields.end());
    FaultSettings parsed;
    const std::optional<AnswerFaultKind> nak = NakKind(kind);
    if (!(nak ? ParseNak(*nak, args, parsed) : ParseSimple(kind, args, parsed))) {
        return false;
    }
    for (size_t i = 0; i < phones.size(); ++i) {
        if (all || i == *phone) {
            Merge(parsed, phones[i]);
        }
    }
    error.clear();
    return true;
}

const char* FaultKindsHelp() {
    return "    silent-request:N          no answer to request N or anything after it\n"
           "    silent-block:N            no answer to block N or anything after it\n"
           "    lose-block-answer:N[:always]  block N written but not answered (the first\n"
           "                              time, or every time it comes)\n"
           "    damage-request-answer:N   request N carried out, answered 02 6A D2\n"
           "    damage-block-answer:N     block N written, answered with a wrong check value\n"
           "    nak-resend:(request|block):N  A1 00 00 instead of the answer, not carried out\n"
           "    nak-model:(request|block):N   A2 00 00 instead of the answer; only a warning,\n"
           "                              carried out all the same\n"
           "    nak-invalid:(request|block):N[:damaged]  A3 9E 4C (damaged: A3 9E 4D) instead\n"
           "                              of the answer, not carried out\n"
           "    nak-failed:(request|block):N[:damaged]   A4 00 00 (damaged: A4 00 01) instead\n"
           "                              of the answer, not carried out\n"
           "    slow-erase:MS             every erase is answered MS milliseconds late\n"
           "    unplug-block:N            the phone is pulled out when block N arrives\n"
           "    raw-xonxoff               0x11 and 0x13 sent unescaped in answers\n"
           "    xoff-during-erase         raw XOFF (0x13) when an erase starts, XON (0x11)\n"
           "                              when it ends, before its answer\n"
           "    xoff-hold:N:MS            raw XOFF (0x13) after the answer to block N, XON\n"
           "                              (0x11) MS milliseconds later; once\n";
}

}  // namespace tarnflow::phonesim
