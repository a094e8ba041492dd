// The render sizes the graphics settings offer.
#pragma once

#include <array>
#include <cstdint>

namespace qv {

struct Resolution {
    std::uint32_t width;
    std::uint32_t height;
};

// The sizes offered in the graphics settings, by index.
inline constexpr std::array<Resolution, 6> kResolutions{
    {{1280, 720}, {1366, 768}, {1600, 900}, {1920, 1080}, {2560, 1440}, {3840, 2160}}};

}  // namespace qv
