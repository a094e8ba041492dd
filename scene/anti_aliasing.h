// The anti-aliasing modes of the render settings, as the settings window lists them.
#pragma once

#include <cstdint>

namespace qv {

// Index into the settings window's list; the scene keeps the chosen one and
// the renderer draws with it.
enum AntiAliasingMode : std::int32_t {
    kAntiAliasingNone = 0,
    kFxaaLow = 1,
    kFxaaHigh = 2,
    kMsaa4x = 3,
    kMsaa8x = 4,
};

inline constexpr bool IsMultisampled(std::int32_t mode) {
    return mode == kMsaa4x || mode == kMsaa8x;
}

}  // namespace qv
