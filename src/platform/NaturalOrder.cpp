#include "platform/NaturalOrder.h"

namespace tarnflow {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The run of digits that starts at `at`, without its leading zeros; `at` moves past the run.
std::string_view DigitRun(std::string_view text, std::size_t& at) {
    while (at < text.size() && text[at] == '0') {
        ++at;
    }
    const std::size_t start = at;
    while (at < text.size() && IsDigit(text[at])) {
        ++at;
    }
    return text.substr(start, at - start);
}

// <0, 0 or >0 as the two numbers compare: a longer run without leading zeros is the larger
// number, and runs of one length compare digit by digit. Any length of run is handled.
int CompareNumbers(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return a.size() < b.size() ? -1 : 1;
    }
    return a.compare(b);
}

}  // namespace

bool NaturalLess(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            const int order = CompareNumbers(DigitRun(a, i), DigitRun(b, j));
            if (order != 0) {
                return order < 0;
            }
            continue;
        }
        if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        }
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size()) {
        return j < b.size();  // one is a prefix of the other by value: the shorter first
    }
    return a < b;
}

}  // namespace tarnflow
