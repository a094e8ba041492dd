// Texture decoding: every DDS kind, images found by content, corrupt files refused.
#include <gtest/gtest.h>

#include "formats/rgba_image.h"
#include "tests/support/content_writers.h"

namespace qv {

namespace {

// A DDS header for the given pixel format; the pixel data follows.
std::vector<std::uint8_t> DdsHeader(std::uint32_t width, std::uint32_t height,
                                    const std::string& fourCc,
                                    std::uint32_t rgbMasks[4] = nullptr) {
    ByteWriter w;
    w.Raw("DDS ");
    w.U32(124);
    w.U32(0x1007);  // caps, height, width, pixel format
    w.U32(height), w.U32(width), w.U32(0), w.U32(0), w.U32(1);
    for (int i = 0; i < 11; ++i)
        w.U32(0);
    w.U32(32);
    if (rgbMasks == nullptr) {
        w.U32(0x4);
        w.Raw(fourCc);
        for (int i = 0; i < 5; ++i)
            w.U32(0);
    } else {
        w.U32(0x40 | (rgbMasks[3] != 0 ? 0x1 : 0));
        w.U32(0);
        w.U32(32);
        for (int i = 0; i < 4; ++i)
            w.U32(rgbMasks[i]);
    }
    w.U32(0x1000), w.U32(0), w.U32(0), w.U32(0), w.U32(0);
    return w.bytes;
}

std::array<std::uint8_t, 4> Pixel(const RgbaImage& image, std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* p = image.pixels.data() + (y * image.width + x) * 4;
    return {p[0], p[1], p[2], p[3]};
}

RgbaImage Decode(const std::vector<std::uint8_t>& bytes) {
    RgbaImage image;
    Result decoded;
    EXPECT_TRUE((decoded = DecodeImage(bytes, image)).ok()) << decoded.message;
    return image;
}

std::string Refusal(const std::vector<std::uint8_t>& bytes) {
    RgbaImage image;
    Result decoded;
    EXPECT_FALSE((decoded = DecodeImage(bytes, image)).ok());
    EXPECT_EQ(decoded.code, E_FAIL);
    EXPECT_TRUE(image.pixels.empty());
    return decoded.message;
}

}  // namespace

TEST(DdsImage, Bc1BlocksDecodeBothPaletteModes) {
    // A 4x4 image of one block: red (0xF800) and blue (0x001F), indices 0,1,2,3
    // across the first row. c0 > c1: four colours, the middle two interpolated.
    std::vector<std::uint8_t> bytes = DdsHeader(4, 4, "DXT1");
    ByteWriter block;
    block.U16(0xF800), block.U16(0x001F), block.U32(0b11100100);
    bytes.insert(bytes.end(), block.bytes.begin(), block.bytes.end());
    const RgbaImage a = Decode(bytes);
    ASSERT_EQ(a.width, 4u);
    EXPECT_EQ(Pixel(a, 0, 0), (std::array<std::uint8_t, 4>{255, 0, 0, 255}));
    EXPECT_EQ(Pixel(a, 1, 0), (std::array<std::uint8_t, 4>{0, 0, 255, 255}));
    EXPECT_EQ(Pixel(a, 2, 0), (std::array<std::uint8_t, 4>{170, 0, 85, 255}));
    EXPECT_EQ(Pixel(a, 3, 0), (std::array<std::uint8_t, 4>{85, 0, 170, 255}));
    EXPECT_EQ(Pixel(a, 0, 3), Pixel(a, 0, 0));  // index 0 elsewhere

    // c0 <= c1: three colours and transparent black for index 3.
    bytes = DdsHeader(4, 4, "DXT1");
    block.bytes.clear();
    block.U16(0x001F), block.U16(0xF800), block.U32(0b11100100);
    bytes.insert(bytes.end(), block.bytes.begin(), block.bytes.end());
    const RgbaImage b = Decode(bytes);
    EXPECT_EQ(Pixel(b, 2, 0), (std::array<std::uint8_t, 4>{127, 0, 127, 255}));
    EXPECT_EQ(Pixel(b, 3, 0), (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
}

TEST(DdsImage, Bc2AndBc3CarryAlphaAndPartialBlocksAreCut) {
    // 2x2 image: only the top-left of the block is kept.
    std::vector<std::uint8_t> bc3 = DdsHeader(2, 2, "DXT5");
    ByteWriter w;
    w.U8(255), w.U8(0);  // alpha endpoints: eight-step ramp
    w.U8(0b00001000), w.U8(0), w.U8(0), w.U8(0), w.U8(0), w.U8(0);  // texel 1 takes index 1 (0)
    w.U16(0xFFFF), w.U16(0x0000), w.U32(0);
    bc3.insert(bc3.end(), w.bytes.begin(), w.bytes.end());
    const RgbaImage a = Decode(bc3);
    ASSERT_EQ(a.pixels.size(), 2u * 2 * 4);
    EXPECT_EQ(Pixel(a, 0, 0), (std::array<std::uint8_t, 4>{255, 255, 255, 255}));
    EXPECT_EQ(Pixel(a, 1, 0)[3], 0);

    std::vector<std::uint8_t> bc2 = DdsHeader(4, 4, "DXT3");
    ByteWriter v;
    v.U8(0xF0);  // texel 0 alpha 0, texel 1 alpha 15
    for (int i = 0; i < 7; ++i)
        v.U8(0x88);
    v.U16(0x07E0), v.U16(0x0000), v.U32(0);
    bc2.insert(bc2.end(), v.bytes.begin(), v.bytes.end());
    const RgbaImage b = Decode(bc2);
    EXPECT_EQ(Pixel(b, 0, 0), (std::array<std::uint8_t, 4>{0, 255, 0, 0}));
    EXPECT_EQ(Pixel(b, 1, 0)[3], 255);
    EXPECT_EQ(Pixel(b, 2, 0)[3], 136);
}

TEST(DdsImage, Uncompressed32BitFollowsItsMasks) {
    std::uint32_t bgra[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    std::vector<std::uint8_t> bytes = DdsHeader(1, 1, "", bgra);
    ByteWriter w;
    w.U32(0x80102030);  // A=0x80 R=0x10 G=0x20 B=0x30
    bytes.insert(bytes.end(), w.bytes.begin(), w.bytes.end());
    EXPECT_EQ(Pixel(Decode(bytes), 0, 0), (std::array<std::uint8_t, 4>{0x10, 0x20, 0x30, 0x80}));
    std::uint32_t noAlpha[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0};
    bytes = DdsHeader(1, 1, "", noAlpha);
    bytes.insert(bytes.end(), w.bytes.begin(), w.bytes.end());
    EXPECT_EQ(Pixel(Decode(bytes), 0, 0)[3], 255);
}

TEST(DdsImage, CorruptFilesAreRefusedCleanly) {
    std::vector<std::uint8_t> bytes = DdsHeader(8, 8, "DXT1");
    bytes.resize(bytes.size() + 8 * 3);  // four blocks needed, three there
    EXPECT_NE(Refusal(bytes).find("cut short"), std::string::npos);
    EXPECT_NE(Refusal(DdsHeader(4, 4, "ATI2")).find("BC1"), std::string::npos);
    EXPECT_NE(Refusal(DdsHeader(100000, 100000, "DXT1")).find("not usable"), std::string::npos);
    EXPECT_NE(Refusal(DdsHeader(0, 4, "DXT1")).find("not usable"), std::string::npos);
    std::vector<std::uint8_t> shortHeader = DdsHeader(4, 4, "DXT1");
    shortHeader.resize(60);
    Refusal(shortHeader);
    Refusal({});
    Refusal({'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'});
}

TEST(ImageFile, BmpWithAlphaIsRecognisedByContent) {
    // A 1x2 32-bit BMP (bottom-up) with an alpha mask, as sphere maps often are.
    ByteWriter w;
    w.Raw("BM");
    w.U32(14 + 108 + 8), w.U32(0), w.U32(14 + 108);
    w.U32(108), w.U32(1), w.U32(2), w.U16(1), w.U16(32), w.U32(3);  // BI_BITFIELDS
    w.U32(8), w.U32(2835), w.U32(2835), w.U32(0), w.U32(0);
    w.U32(0x00FF0000), w.U32(0x0000FF00), w.U32(0x000000FF), w.U32(0xFF000000);
    w.Raw("BGRs");
    for (int i = 0; i < 12; ++i)
        w.U32(0);
    w.U32(0x80FF0000);  // bottom row: red, half transparent
    w.U32(0xFF0000FF);  // top row: blue
    const RgbaImage image = Decode(w.bytes);
    ASSERT_EQ(image.height, 2u);
    EXPECT_EQ(Pixel(image, 0, 0), (std::array<std::uint8_t, 4>{0, 0, 255, 255}));
    EXPECT_EQ(Pixel(image, 0, 1), (std::array<std::uint8_t, 4>{255, 0, 0, 128}));
}

}  // namespace qv
