#include "engine/ImageFiles.h"

#include <algorithm>
#include <cctype>

#include "engine/ImageKind.h"

namespace tarnflow {

const char* ImageExtension(int kind) {
    switch (kind) {
        case KIND_VPX_CONTENTS:
            return "rbin";
        case KIND_VPX_LFS:
            return "lfs";
        case KIND_VPX_FACTORYFS:
            return "ffs";
        default:
            return "bin";
    }
}

bool HasImageExtension(const std::string& path, int kind) {
    const size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ImageExtension(kind);
}

}  // namespace tarnflow
