// JPEG files decoded through libjpeg-turbo, within the texture size limits.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "formats/rgba_image.h"

namespace qv {

// True when the bytes start with a JPEG start-of-image marker.
bool IsJpeg(std::span<const std::uint8_t> bytes);

// Baseline and progressive JPEG (grey, YCbCr, RGB) to 8-bit RGBA with opaque
// alpha. E_FAIL with a sentence for a damaged file, a colour space the
// decoder cannot turn into RGB (CMYK), or an image beyond the texture limits,
// checked before its pixels are allocated. Recoverable damage that still
// gives a whole picture is accepted, as viewers do.
Result DecodeJpeg(std::span<const std::uint8_t> bytes, RgbaImage& image);

}  // namespace qv
