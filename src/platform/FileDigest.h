#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tarnflow {

// What a report says of one file: its length and the SHA-256 of its bytes.
struct FileDigest {
    uint64_t size = 0;
    std::optional<std::string> sha256;  // lower-case hex; none when the file could not be read
};

// Reads a regular file once, never blocking on a FIFO or device (those are not read: their size
// is 0 and they have no digest).
FileDigest DigestFile(const std::string& path);

// The SHA-256 of `length` bytes, in lower-case hex.
std::string Sha256Hex(const uint8_t* bytes, size_t length);

}  // namespace tarnflow
