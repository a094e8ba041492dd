// PNG files decoded through libspng, within the texture size limits.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "formats/rgba_image.h"

namespace qv {

// True when the bytes start with the PNG signature.
bool IsPng(std::span<const std::uint8_t> bytes);

// Any PNG colour type and depth to 8-bit RGBA (16-bit samples keep their
// high byte; a tRNS chunk becomes alpha; no gamma is applied). E_FAIL with
// a sentence for a damaged file (a bad CRC included) or an image beyond the
// texture limits, checked before its pixels are allocated.
Result DecodePng(std::span<const std::uint8_t> bytes, RgbaImage& image);

}  // namespace qv
