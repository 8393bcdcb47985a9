#pragma once

#include <string>

namespace tarnflow {

// The extension a kind's image files have: "bin", "rbin" (VPX Contents), "lfs" (VPX LFS) or
// "ffs" (VPX FactoryFS).
const char* ImageExtension(int kind);

// The text after the last dot of the file name (empty without one), in lower case, is the
// kind's extension: what both front ends accept as a file for download.
bool HasImageExtension(const std::string& path, int kind);

}  // namespace tarnflow
