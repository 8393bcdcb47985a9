#pragma once

#include <cstdint>
#include <vector>

namespace tarnflow::phonesim {

// The frame of one answer: 7E, the payload escaped (0x7D, byte ^ 0x20), 7E. 0x7D, 0x7E and 0x7F
// are always escaped; 0x11 and 0x13 too unless `rawFlowControl`, because a tool with XON/XOFF on
// would swallow them (the fault that leaves them raw shows what happens then).
std::vector<uint8_t> EncodeAnswer(const std::vector<uint8_t>& payload, bool rawFlowControl);

}  // namespace tarnflow::phonesim
