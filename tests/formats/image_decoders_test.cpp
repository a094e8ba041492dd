// The PNG and JPEG decoders against stb_image, on the shared textures and on damaged files.
#include <gtest/gtest.h>
#include <stb_image.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "formats/jpeg_decoder.h"
#include "formats/png_decoder.h"
#include "formats/rgba_image.h"
#include "platform/file_read.h"
#include "tests/support/content_path.h"

namespace qv {

namespace {

// The reference decode: what the player used for every format before.
RgbaImage StbDecode(const std::vector<std::uint8_t>& bytes) {
    int w = 0, h = 0, channels = 0;
    stbi_uc* pixels =
        stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &w, &h, &channels, 4);
    RgbaImage image;
    if (pixels != nullptr) {
        image.width = static_cast<std::uint32_t>(w);
        image.height = static_cast<std::uint32_t>(h);
        image.pixels.assign(pixels, pixels + std::size_t(w) * std::size_t(h) * 4);
        stbi_image_free(pixels);
    }
    return image;
}

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& path) {
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(ReadWholeFile(path, bytes), S_OK) << path;
    return bytes;
}

// A JPEG of a smooth gradient with a sharp square, as a texture might hold.
std::vector<std::uint8_t> MakeJpeg(int width, int height, int subsampling = TJSAMP_420) {
    std::vector<std::uint8_t> rgb(std::size_t(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &rgb[(std::size_t(y) * width + x) * 3];
            const bool square = x > width / 4 && x < width / 2 && y > height / 4 && y < height / 2;
            p[0] = static_cast<std::uint8_t>(x * 255 / width);
            p[1] = static_cast<std::uint8_t>(y * 255 / height);
            p[2] = square ? 255 : 40;
        }
    }
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    EXPECT_EQ(tjCompress2(handle, rgb.data(), width, 0, height, TJPF_RGB, &out, &size, subsampling,
                          90, 0),
              0);
    std::vector<std::uint8_t> bytes(out, out + size);
    tjFree(out);
    tjDestroy(handle);
    return bytes;
}

TEST(ImageDecoders, RoomForPixelsIsExactlyTheSizeAskedAndZeroed) {
    std::vector<std::uint8_t> pixels(64, 0xAB);  // what a reused image held
    MakeRoomForPixels(pixels, std::size_t{512} * 512 * 4);
    ASSERT_EQ(pixels.size(), std::size_t{512} * 512 * 4);
    EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0),
              static_cast<std::ptrdiff_t>(pixels.size()));
    MakeRoomForPixels(pixels, 8);
    EXPECT_EQ(pixels, std::vector<std::uint8_t>(8, 0));
}

TEST(ImageDecoders, EveryContentTextureDecodesToTheSamePixelsAsBefore) {
    QV_REQUIRE_CONTENT();
    int compared = 0;
    for (const char* folder : {"gene/light", "glasses"}) {
        for (const auto& entry : std::filesystem::directory_iterator(ContentDir() / folder)) {
            const std::vector<std::uint8_t> bytes = ReadAll(entry.path());
            if (!IsPng(bytes)) {
                continue;
            }
            RgbaImage ours;
            Result decoded;
            ASSERT_TRUE((decoded = DecodeImage(bytes, ours)).ok())
                << entry.path() << ": " << decoded.message;
            const RgbaImage reference = StbDecode(bytes);
            EXPECT_EQ(ours.width, reference.width) << entry.path();
            EXPECT_EQ(ours.height, reference.height) << entry.path();
            EXPECT_TRUE(ours.pixels == reference.pixels) << entry.path();
            ++compared;
        }
    }
    EXPECT_GE(compared, 13);
}

TEST(ImageDecoders, DamagedOrOversizedPngIsRefusedWithAReason) {
    QV_REQUIRE_CONTENT();
    const std::vector<std::uint8_t> good = ReadAll(ContentDir() / "gene" / "light" / "eye.png");
    RgbaImage image;
    Result decoded;

    std::vector<std::uint8_t> cut(good.begin(), good.begin() + good.size() / 2);
    EXPECT_FALSE((decoded = DecodeImage(cut, image)).ok());
    EXPECT_FALSE(decoded.message.empty());
    EXPECT_TRUE(image.pixels.empty());

    // A byte flipped inside the image data no longer matches its checksum.
    std::vector<std::uint8_t> flipped = good;
    const auto idat = std::search(flipped.begin(), flipped.end(), "IDAT", "IDAT" + 4);
    ASSERT_NE(idat, flipped.end());
    idat[40] ^= 0x5A;
    EXPECT_FALSE((decoded = DecodeImage(flipped, image)).ok());
    EXPECT_NE(decoded.message.find("PNG"), std::string::npos) << decoded.message;

    // A header that claims 100,000 x 100,000 pixels: refused before any
    // allocation for it (the header's checksum is made to match).
    std::vector<std::uint8_t> huge = good;
    for (int i : {16, 20}) {
        huge[i] = 0x00, huge[i + 1] = 0x01, huge[i + 2] = 0x86, huge[i + 3] = 0xA0;
    }
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 12; i < 29; ++i) {
        crc ^= huge[i];
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    crc ^= 0xFFFFFFFFu;
    huge[29] = crc >> 24, huge[30] = crc >> 16, huge[31] = crc >> 8, huge[32] = crc & 0xFF;
    EXPECT_FALSE((decoded = DecodeImage(huge, image)).ok());
    EXPECT_FALSE(decoded.message.empty());
}

TEST(ImageDecoders, JpegMatchesTheOldDecoderWithinRoundingAndRefusesCutFiles) {
    for (int subsampling : {TJSAMP_444, TJSAMP_420, TJSAMP_GRAY}) {
        const std::vector<std::uint8_t> bytes = MakeJpeg(96, 64, subsampling);
        ASSERT_TRUE(IsJpeg(bytes));
        RgbaImage ours;
        Result decoded;
        ASSERT_TRUE((decoded = DecodeImage(bytes, ours)).ok()) << decoded.message;
        const RgbaImage reference = StbDecode(bytes);
        ASSERT_EQ(ours.width, 96u);
        ASSERT_EQ(ours.height, 64u);
        ASSERT_EQ(ours.pixels.size(), reference.pixels.size());
        int worst = 0;
        for (std::size_t i = 0; i < ours.pixels.size(); ++i) {
            worst = std::max(worst, std::abs(int(ours.pixels[i]) - int(reference.pixels[i])));
        }
        // Two decoders round and upsample chroma differently, by a few levels.
        EXPECT_LE(worst, 12) << "subsampling " << subsampling;
        EXPECT_EQ(ours.pixels[3], 255);
    }
    const std::vector<std::uint8_t> bytes = MakeJpeg(96, 64);
    RgbaImage image;
    Result decoded;
    std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + bytes.size() * 2 / 3);
    EXPECT_FALSE((decoded = DecodeImage(cut, image)).ok());
    EXPECT_NE(decoded.message.find("cut short"), std::string::npos) << decoded.message;

    // The frame header's height and width (after the SOF0 marker) raised to
    // 60,000 x 60,000.
    std::vector<std::uint8_t> huge = bytes;
    for (std::size_t i = 2; i + 8 < huge.size(); ++i) {
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 5] = 0xEA, huge[i + 6] = 0x60, huge[i + 7] = 0xEA, huge[i + 8] = 0x60;
            break;
        }
    }
    EXPECT_FALSE((decoded = DecodeImage(huge, image)).ok());
    EXPECT_NE(decoded.message.find("not usable"), std::string::npos) << decoded.message;
}

}  // namespace

}  // namespace qv
