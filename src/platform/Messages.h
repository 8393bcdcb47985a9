#pragma once

#include <cstdint>

namespace tarnflow {

// Notification numbers keep their offsets from the first user message number.
inline constexpr uint32_t WM_USER = 0x0400;
inline constexpr uint32_t WM_RX_PACKET = WM_USER + 0x143;
inline constexpr uint32_t WM_RX_THREAD_END = WM_USER + 0x190;
inline constexpr uint32_t WM_TEXT_QUEUED = WM_USER + 0x1AE;
inline constexpr uint32_t WM_SLIDER_MOVED = WM_USER + 0x166;

struct Message {
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;

    friend bool operator==(const Message&, const Message&) = default;
};

}  // namespace tarnflow
