#include "phonesim/FaultOption.h"

#include <gtest/gtest.h>

namespace tarnflow::phonesim {
namespace {

TEST(FaultOption, AppliesEachKindToItsPhone) {
    std::vector<FaultSettings> phones(3);
    std::string error;
    for (const char* option :
         {"1:silent-request:4", "1:silent-block:5", "1:unplug-block:6", "1:slow-erase:700",
          "1:raw-xonxoff", "1:xoff-during-erase", "1:lose-block-answer:2:always",
          "1:damage-request-answer:3", "1:damage-block-answer:8", "1:nak-resend:request:1",
          "1:nak-model:block:2", "1:nak-invalid:block:9:damaged", "1:nak-failed:request:0",
          "1:xoff-hold:7:2000"}) {
        EXPECT_TRUE(ApplyFaultOption(option, phones, error)) << option << ": " << error;
    }
    const FaultSettings& f = phones[1];
    EXPECT_EQ(f.silentFromRequest, 4u);
    EXPECT_EQ(f.silentFromBlock, 5u);
    EXPECT_EQ(f.unplugAtBlock, 6u);
    EXPECT_EQ(f.slowEraseMs, 700u);
    EXPECT_TRUE(f.rawXonXoff);
    EXPECT_TRUE(f.xoffDuringErase);
    ASSERT_TRUE(f.xoffHold.has_value());
    EXPECT_EQ(f.xoffHold->place, 7u);
    EXPECT_EQ(f.xoffHold->ms, 2000u);
    ASSERT_EQ(f.answerFaults.size(), 7u);
    const AnswerFault& lose = f.answerFaults[0];
    EXPECT_EQ(lose.kind, AnswerFaultKind::Lose);
    EXPECT_EQ(lose.target, FaultTarget::Block);
    EXPECT_EQ(lose.index, 2u);
    EXPECT_TRUE(lose.always);
    EXPECT_EQ(f.answerFaults[1].target, FaultTarget::Request);
    EXPECT_EQ(f.answerFaults[1].kind, AnswerFaultKind::Damage);
    const AnswerFault& invalid = f.answerFaults[5];
    EXPECT_EQ(invalid.kind, AnswerFaultKind::NakInvalidCmd);
    EXPECT_EQ(invalid.target, FaultTarget::Block);
    EXPECT_EQ(invalid.index, 9u);
    EXPECT_TRUE(invalid.damaged);
    EXPECT_FALSE(f.answerFaults[6].damaged);
    EXPECT_TRUE(phones[0].answerFaults.empty());
    EXPECT_FALSE(phones[2].rawXonXoff);
    EXPECT_FALSE(phones[2].xoffHold.has_value());
}

TEST(FaultOption, AllMeansEveryPhone) {
    std::vector<FaultSettings> phones(2);
    std::string error;
    ASSERT_TRUE(ApplyFaultOption("all:slow-erase:50", phones, error)) << error;
    EXPECT_EQ(phones[0].slowEraseMs, 50u);
    EXPECT_EQ(phones[1].slowEraseMs, 50u);
}

TEST(FaultOption, RejectsWhatIsNoFault) {
    std::vector<FaultSettings> phones(2);
    std::string error;
    for (const char* option :
         {"", "0", "2:raw-xonxoff", "x:raw-xonxoff", "0:raw-xonxoff:1", "0:silent-block",
          "0:silent-block:-1", "0:silent-block:1:2", "0:lose-block-answer:1:sometimes",
          "0:nak-resend:request", "0:nak-resend:frame:1", "0:nak-resend:block:1:damaged",
          "0:nak-failed:block:1:broken", "0:slow-erase:99999999999", "0:unknown:1", "0:xoff-hold:3",
          "0:xoff-hold:3:x", "0:xoff-hold:3:500:1"}) {
        EXPECT_FALSE(ApplyFaultOption(option, phones, error)) << option;
        EXPECT_FALSE(error.empty()) << option;
    }
    EXPECT_TRUE(phones[0].answerFaults.empty());
    EXPECT_FALSE(phones[0].rawXonXoff);
    EXPECT_FALSE(phones[0].xoffHold.has_value());
}

}  // namespace
}  // namespace tarnflow::phonesim
