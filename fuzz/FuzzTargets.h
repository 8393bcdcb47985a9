#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnflow::fuzz {

// The receive path on arbitrary bytes. The first byte picks the frame mode (bit 0) and the
// chunk size (the rest); the other bytes arrive in chunks of that size, in bursts of four.
void ProcessReceivedInput(const uint8_t* data, size_t size);

// The image loader on an arbitrary file. The first byte picks the image kind (mod 9), the rest
// is the file; every block of a loaded image is fetched with its check value.
void DloadFileInput(const uint8_t* data, size_t size);

}  // namespace tarnflow::fuzz
