#pragma once

#include <cstdint>
#include <string>

namespace tarnflow {

enum class FontAddressCheck { Ok, Empty, HasSpace };

inline constexpr const char* kFontAddressEmptyText = "Font Address를 입력하세요!";
inline constexpr const char* kFontAddressSpaceText = "Font Address를 정확하게 써주세요!";

// The font start address typed as hexadecimal digits without a prefix. The text is read the way
// strtoul reads "0X" + text in base 16: the longest run of hex digits after the prefix counts,
// the rest is ignored, and a value beyond 32 bits is 0xFFFFFFFF. Sets `address` only for Ok.
FontAddressCheck ParseFontAddress(const std::string& text, uint32_t& address);

}  // namespace tarnflow
