// Texture files by content: DDS ours, PNG and JPEG through their own libraries, the rest through
// stb_image.
#include <stb_image.h>

#include <cstring>
#include <limits>

#include "formats/jpeg_decoder.h"
#include "formats/png_decoder.h"
#include "formats/rgba_image.h"

namespace qv {

Result DecodeImage(std::span<const std::uint8_t> bytes, RgbaImage& image) {
    image = {};
    if (bytes.size() >= 4 && std::memcmp(bytes.data(), "DDS ", 4) == 0) {
        return DecodeDds(bytes, image);
    }
    if (IsPng(bytes)) {
        return DecodePng(bytes, image);
    }
    if (IsJpeg(bytes)) {
        return DecodeJpeg(bytes, image);
    }
    if (bytes.empty() || bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return Result::Failure(E_FAIL,
                               bytes.empty() ? "the file is empty" : "the file is too large");
    }
    const int length = static_cast<int>(bytes.size());
    int w = 0, h = 0, channels = 0;
    // Check the size the header claims before anything is allocated for it.
    if (stbi_info_from_memory(bytes.data(), length, &w, &h, &channels) == 0) {
        return Result::Failure(
            E_FAIL, std::string("not an image this player reads (") + stbi_failure_reason() + ")");
    }
    if (w <= 0 || h <= 0 || static_cast<std::uint32_t>(w) > kMaxImageSide ||
        static_cast<std::uint32_t>(h) > kMaxImageSide ||
        std::uint64_t(w) * std::uint64_t(h) > kMaxImagePixels) {
        return Result::Failure(E_FAIL, "its size of " + std::to_string(w) + " x " +
                                           std::to_string(h) + " is not usable");
    }
    stbi_uc* pixels = stbi_load_from_memory(bytes.data(), length, &w, &h, &channels, 4);
    if (pixels == nullptr) {
        return Result::Failure(
            E_FAIL, std::string("the image cannot be decoded (") + stbi_failure_reason() + ")");
    }
    image.width = static_cast<std::uint32_t>(w);
    image.height = static_cast<std::uint32_t>(h);
    image.pixels.assign(pixels, pixels + std::size_t(w) * std::size_t(h) * 4);
    stbi_image_free(pixels);
    return {};
}

}  // namespace qv
