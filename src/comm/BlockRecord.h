#pragma once

#include <cstdint>

namespace tarnflow {

inline constexpr uint16_t kBlockSize = 1024;

// One image block handed to the link for a raw write. `data` borrows from the image buffer of
// the file object that filled the record; it is valid until that object loads, resets or
// unloads.
struct BlockRecord {
    uint8_t tag = 0;
    uint32_t address = 0;  // offset of the block in the loaded image
    uint16_t length = 0;   // bytes to write; 1024 for every block the system sends
    const uint8_t* data = nullptr;
};

}  // namespace tarnflow
