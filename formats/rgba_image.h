// Turns any texture file a model names into plain RGBA pixels, within sane size limits.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/result.h"

namespace qv {

// A decoded texture: 8-bit RGBA, rows top to bottom, one mip level.
struct RgbaImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> pixels;  // width * height * 4
};

// Sizes `pixels` to `bytes` for a decoder to write, its memory faulted in
// with one call rather than a fault per page: textures run to tens of
// megabytes.
void MakeRoomForPixels(std::vector<std::uint8_t>& pixels, std::size_t bytes);

// The largest image a texture may be, per side and in all: far above what
// models use, far below what would exhaust memory.
inline constexpr std::uint32_t kMaxImageSide = 16384;
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t{8192} * 8192;

// Decodes an image file held in memory, recognised by its content rather than
// its name (sphere maps named .spa or .sph are BMP files, for instance): DDS
// (BC1, BC2, BC3 and uncompressed 32-bit), PNG, JPEG, BMP with alpha, TGA,
// GIF and PSD. E_FAIL with a sentence for anything else, a file cut short,
// or an image larger than the limits.
Result DecodeImage(std::span<const std::uint8_t> bytes, RgbaImage& image);

// DDS alone; DecodeImage calls it for files that start with "DDS ".
Result DecodeDds(std::span<const std::uint8_t> bytes, RgbaImage& image);

}  // namespace qv
