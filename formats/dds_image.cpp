// Decodes DDS textures ourselves: the block-compressed kinds models ship and plain 32-bit.
#include <cstring>

#include "formats/rgba_image.h"

namespace qv {

namespace {

constexpr std::uint32_t kHeaderSize = 124;
constexpr std::uint32_t kPixelFormatFourCc = 0x4;
constexpr std::uint32_t kPixelFormatRgb = 0x40;
constexpr std::uint32_t kPixelFormatAlpha = 0x1;

std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint32_t FourCc(const char* text) {
    return U32(reinterpret_cast<const std::uint8_t*>(text));
}

enum class Encoding { Bc1, Bc2, Bc3, Rgba32 };

struct Rgb {
    int r, g, b;
};

Rgb Expand565(std::uint16_t c) {
    const int r = (c >> 11) & 31, g = (c >> 5) & 63, b = c & 31;
    return {(r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2)};
}

// One 4x4 colour block. Blocks of BC2 and BC3 always use four colours; BC1
// blocks whose first colour is not above the second have three and black.
void DecodeColorBlock(const std::uint8_t* block, bool alwaysFourColors, std::uint8_t out[16][4]) {
    const std::uint16_t c0 = static_cast<std::uint16_t>(block[0] | block[1] << 8);
    const std::uint16_t c1 = static_cast<std::uint16_t>(block[2] | block[3] << 8);
    const Rgb a = Expand565(c0), b = Expand565(c1);
    std::uint8_t palette[4][4] = {
        {std::uint8_t(a.r), std::uint8_t(a.g), std::uint8_t(a.b), 255},
        {std::uint8_t(b.r), std::uint8_t(b.g), std::uint8_t(b.b), 255},
    };
    if (alwaysFourColors || c0 > c1) {
        for (int k = 0; k < 3; ++k) {
            const int x = k == 0 ? a.r : k == 1 ? a.g : a.b;
            const int y = k == 0 ? b.r : k == 1 ? b.g : b.b;
            palette[2][k] = static_cast<std::uint8_t>((2 * x + y) / 3);
            palette[3][k] = static_cast<std::uint8_t>((x + 2 * y) / 3);
        }
        palette[2][3] = palette[3][3] = 255;
    } else {
        for (int k = 0; k < 3; ++k) {
            const int x = k == 0 ? a.r : k == 1 ? a.g : a.b;
            const int y = k == 0 ? b.r : k == 1 ? b.g : b.b;
            palette[2][k] = static_cast<std::uint8_t>((x + y) / 2);
            palette[3][k] = 0;
        }
        palette[2][3] = 255;
        palette[3][3] = 0;  // transparent black
    }
    const std::uint32_t indices = U32(block + 4);
    for (int i = 0; i < 16; ++i) {
        std::memcpy(out[i], palette[(indices >> (2 * i)) & 3], 4);
    }
}

void DecodeBc2Alpha(const std::uint8_t* block, std::uint8_t out[16][4]) {
    for (int i = 0; i < 16; ++i) {
        const int nibble = (block[i / 2] >> (4 * (i & 1))) & 15;
        out[i][3] = static_cast<std::uint8_t>(nibble * 17);
    }
}

void DecodeBc3Alpha(const std::uint8_t* block, std::uint8_t out[16][4]) {
    const int a0 = block[0], a1 = block[1];
    int palette[8] = {a0, a1};
    if (a0 > a1) {
        for (int k = 1; k < 7; ++k)
            palette[k + 1] = ((7 - k) * a0 + k * a1) / 7;
    } else {
        for (int k = 1; k < 5; ++k)
            palette[k + 1] = ((5 - k) * a0 + k * a1) / 5;
        palette[6] = 0;
        palette[7] = 255;
    }
    std::uint64_t bits = 0;
    for (int k = 0; k < 6; ++k)
        bits |= std::uint64_t{block[2 + k]} << (8 * k);
    for (int i = 0; i < 16; ++i) {
        out[i][3] = static_cast<std::uint8_t>(palette[(bits >> (3 * i)) & 7]);
    }
}

// Position of the lowest set bit and the width of a channel mask.
void MaskShape(std::uint32_t mask, int& shift, int& bits) {
    shift = 0;
    bits = 0;
    if (mask == 0)
        return;
    while (((mask >> shift) & 1) == 0)
        ++shift;
    while (shift + bits < 32 && ((mask >> (shift + bits)) & 1) != 0)
        ++bits;
}

std::uint8_t Channel(std::uint32_t pixel, std::uint32_t mask, std::uint8_t absent) {
    int shift, bits;
    MaskShape(mask, shift, bits);
    if (bits == 0)
        return absent;
    const std::uint32_t value = (pixel & mask) >> shift;
    const std::uint32_t max = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
    return static_cast<std::uint8_t>((std::uint64_t{value} * 255 + max / 2) / max);
}

}  // namespace

Result DecodeDds(std::span<const std::uint8_t> bytes, RgbaImage& image) {
    image = {};
    if (bytes.size() < 4 + kHeaderSize || std::memcmp(bytes.data(), "DDS ", 4) != 0 ||
        U32(bytes.data() + 4) != kHeaderSize) {
        return Result::Failure(E_FAIL, "not a DDS file, or its header is cut short");
    }
    const std::uint8_t* header = bytes.data() + 4;
    const std::uint32_t height = U32(header + 8);
    const std::uint32_t width = U32(header + 12);
    const std::uint8_t* format = header + 72;  // the pixel format record
    const std::uint32_t formatFlags = U32(format + 4);
    const std::uint32_t fourCc = U32(format + 8);
    std::size_t dataOffset = 4 + kHeaderSize;

    Encoding encoding;
    if (formatFlags & kPixelFormatFourCc) {
        std::uint32_t code = fourCc;
        if (fourCc == FourCc("DX10")) {
            if (bytes.size() < dataOffset + 20) {
                return Result::Failure(E_FAIL, "its extended header is cut short");
            }
            const std::uint32_t dxgi = U32(bytes.data() + dataOffset);
            dataOffset += 20;
            code = dxgi == 71 || dxgi == 72   ? FourCc("DXT1")
                   : dxgi == 74 || dxgi == 75 ? FourCc("DXT3")
                   : dxgi == 77 || dxgi == 78 ? FourCc("DXT5")
                   : dxgi == 28 || dxgi == 29 ? FourCc("RGBA")
                                              : 0;
        }
        if (code == FourCc("DXT1")) {
            encoding = Encoding::Bc1;
        } else if (code == FourCc("DXT2") || code == FourCc("DXT3")) {
            encoding = Encoding::Bc2;
        } else if (code == FourCc("DXT4") || code == FourCc("DXT5")) {
            encoding = Encoding::Bc3;
        } else if (code == FourCc("RGBA")) {
            encoding = Encoding::Rgba32;
        } else {
            return Result::Failure(E_FAIL, "its compression is not BC1, BC2 or BC3");
        }
    } else if ((formatFlags & kPixelFormatRgb) && U32(format + 12) == 32) {
        encoding = Encoding::Rgba32;
    } else {
        return Result::Failure(E_FAIL,
                               "its pixel format is neither block-compressed nor 32-bit RGB");
    }
    if (width == 0 || height == 0 || width > kMaxImageSide || height > kMaxImageSide ||
        std::uint64_t{width} * height > kMaxImagePixels) {
        return Result::Failure(E_FAIL, "its size of " + std::to_string(width) + " x " +
                                           std::to_string(height) + " is not usable");
    }

    const std::uint64_t blocksWide = (width + 3) / 4, blocksHigh = (height + 3) / 4;
    const std::uint64_t needed = encoding == Encoding::Rgba32 ? std::uint64_t{width} * height * 4
                                 : encoding == Encoding::Bc1  ? blocksWide * blocksHigh * 8
                                                              : blocksWide * blocksHigh * 16;
    if (bytes.size() - dataOffset < needed) {
        return Result::Failure(E_FAIL, "the file is cut short inside its pixels");
    }
    const std::uint8_t* data = bytes.data() + dataOffset;
    image.width = width;
    image.height = height;
    MakeRoomForPixels(image.pixels, std::size_t{width} * height * 4);

    if (encoding == Encoding::Rgba32) {
        // DX10's R8G8B8A8 has no masks in the header; the legacy form names them.
        const bool dx10 = fourCc == FourCc("DX10");
        const std::uint32_t r = dx10 ? 0x000000FFu : U32(format + 16);
        const std::uint32_t g = dx10 ? 0x0000FF00u : U32(format + 20);
        const std::uint32_t b = dx10 ? 0x00FF0000u : U32(format + 24);
        const std::uint32_t a =
            dx10 || (formatFlags & kPixelFormatAlpha) ? (dx10 ? 0xFF000000u : U32(format + 28)) : 0;
        for (std::size_t i = 0; i < std::size_t{width} * height; ++i) {
            const std::uint32_t pixel = U32(data + 4 * i);
            std::uint8_t* out = image.pixels.data() + 4 * i;
            out[0] = Channel(pixel, r, 0);
            out[1] = Channel(pixel, g, 0);
            out[2] = Channel(pixel, b, 0);
            out[3] = Channel(pixel, a, 255);
        }
        return {};
    }
    const std::size_t blockBytes = encoding == Encoding::Bc1 ? 8 : 16;
    for (std::uint64_t by = 0; by < blocksHigh; ++by) {
        for (std::uint64_t bx = 0; bx < blocksWide; ++bx) {
            const std::uint8_t* block = data + (by * blocksWide + bx) * blockBytes;
            std::uint8_t texels[16][4];
            if (encoding == Encoding::Bc1) {
                DecodeColorBlock(block, false, texels);
            } else {
                DecodeColorBlock(block + 8, true, texels);
                if (encoding == Encoding::Bc2) {
                    DecodeBc2Alpha(block, texels);
                } else {
                    DecodeBc3Alpha(block, texels);
                }
            }
            for (int i = 0; i < 16; ++i) {
                const std::uint64_t x = bx * 4 + (i & 3), y = by * 4 + (i >> 2);
                if (x < width && y < height) {
                    std::memcpy(image.pixels.data() + (y * width + x) * 4, texels[i], 4);
                }
            }
        }
    }
    return {};
}

}  // namespace qv
