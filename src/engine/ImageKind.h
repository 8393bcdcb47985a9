#pragma once

namespace tarnflow {

// The images a download can use, by their index in the image selection. Kinds 0 to 2 belong to
// the Phone group, 3 to 8 to the VPX group. Kind 1 is only compared, never downloaded.
enum ImageKind {
    KIND_CODE_NEW = 0,
    KIND_CODE_OLD = 1,
    KIND_FONT = 2,
    KIND_VPX_BOOT = 3,
    KIND_VPX_CODE = 4,
    KIND_VPX_FONT = 5,
    KIND_VPX_CONTENTS = 6,
    KIND_VPX_LFS = 7,
    KIND_VPX_FACTORYFS = 8
};

inline constexpr int kImageKindCount = 9;

}  // namespace tarnflow
