#include "engine/FontAddress.h"

#include <cctype>

namespace tarnflow {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower >= 'a' && lower <= 'f') {
        return lower - 'a' + 10;
    }
    return -1;
}

}  // namespace

FontAddressCheck ParseFontAddress(const std::string& text, uint32_t& address) {
    if (text.empty()) {
        return FontAddressCheck::Empty;
    }
    if (text.find(' ') != std::string::npos) {
        return FontAddressCheck::HasSpace;
    }
    // The added "0X" is the prefix; parsing stops at the first character that is no hex digit,
    // so a typed "0x..." yields 0.
    uint64_t value = 0;
    for (char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0) {
            break;
        }
        value = value * 16 + static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFull) {
            value = 0xFFFFFFFFull;
            break;
        }
    }
    address = static_cast<uint32_t>(value);
    return FontAddressCheck::Ok;
}

}  // namespace tarnflow
