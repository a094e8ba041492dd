// Pixels read back from a presented frame, held apart from the GPU code that fills them.
#pragma once

#include <cstdint>
#include <vector>

namespace qv {

// Pixels read back from a presented image, always in R, G, B, A byte order.
struct CapturedImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> rgba;
};

}  // namespace qv
