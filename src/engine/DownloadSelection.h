#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "engine/ImageKind.h"

namespace tarnflow {

// What the operator chose, as the front end's controls hold it. The window copies its controls
// in here (data exchange); the command line fills it from its options.
struct DownloadSelection {
    std::array<int, kImageKindCount> check{};  // m_bCodeNew, m_bCodeOld, m_bFont, m_bVpx...
    std::array<std::string, kImageKindCount> imagePath;
    std::string m_strFontAddress;
    uint32_t fontStartAddress = 0;
    int m_bChangeBootArea = 0;
    int m_nDloadType = 0;

    bool IsPhoneImageChosen() const { return check[KIND_CODE_NEW] || check[KIND_FONT]; }
    bool IsVpxImageChosen() const {
        for (int kind = KIND_VPX_BOOT; kind <= KIND_VPX_FACTORYFS; ++kind) {
            if (check[kind]) {
                return true;
            }
        }
        return false;
    }
};

}  // namespace tarnflow
