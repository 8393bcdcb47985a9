#include <gtest/gtest.h>

#include "cli/TerminalQuestion.h"
#include "platform/OwnerWindow.h"

namespace tarnflow::cli {
namespace {

TEST(ParseAnswer, YesNoOrAskAgain) {
    const struct {
        const char* line;
        int answer;
    } cases[] = {
        {"y", IDYES},   {"YES", IDYES}, {"  yes\r", IDYES}, {"n", IDNO}, {"No", IDNO},
        {"\tn ", IDNO}, {"", 0},        {"   ", 0},         {"yep", 0},  {"y n", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseAnswer(c.line), c.answer) << '"' << c.line << '"';
    }
}

}  // namespace
}  // namespace tarnflow::cli
