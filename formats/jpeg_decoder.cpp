// JPEG files decoded through libjpeg-turbo, within the texture size limits.
#include "formats/jpeg_decoder.h"

#include <turbojpeg.h>

#include <limits>
#include <memory>

namespace qv {

namespace {

struct HandleFree {
    void operator()(void* handle) const { tjDestroy(handle); }
};

// A whole JPEG ends with the end-of-image marker, perhaps padded after it.
bool EndsWithEndOfImage(std::span<const std::uint8_t> bytes) {
    std::size_t end = bytes.size();
    while (end > 2 && bytes[end - 1] == 0) {
        --end;
    }
    return end >= 2 && bytes[end - 2] == 0xFF && bytes[end - 1] == 0xD9;
}

}  // namespace

bool IsJpeg(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

Result DecodeJpeg(std::span<const std::uint8_t> bytes, RgbaImage& image) {
    image = {};
    if (bytes.size() > std::numeric_limits<unsigned long>::max()) {
        return Result::Failure(E_FAIL, "the file is too large");
    }
    std::unique_ptr<void, HandleFree> handle(tjInitDecompress());
    if (!handle) {
        return Result::Failure(E_FAIL, "the JPEG decoder cannot start");
    }
    const auto size = static_cast<unsigned long>(bytes.size());
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(handle.get(), bytes.data(), size, &width, &height, &subsampling,
                            &colorspace) != 0) {
        return Result::Failure(E_FAIL, std::string("not a JPEG this player reads (") +
                                           tjGetErrorStr2(handle.get()) + ")");
    }
    if (width <= 0 || height <= 0 || static_cast<std::uint32_t>(width) > kMaxImageSide ||
        static_cast<std::uint32_t>(height) > kMaxImageSide ||
        std::uint64_t(width) * std::uint64_t(height) > kMaxImagePixels) {
        return Result::Failure(E_FAIL, "its size of " + std::to_string(width) + " x " +
                                           std::to_string(height) + " is not usable");
    }
    if (colorspace == TJCS_CMYK || colorspace == TJCS_YCCK) {
        return Result::Failure(E_FAIL, "its CMYK colours cannot be shown");
    }
    MakeRoomForPixels(image.pixels, std::size_t(width) * std::size_t(height) * 4);
    if (tjDecompress2(handle.get(), bytes.data(), size, image.pixels.data(), width, 0, height,
                      TJPF_RGBA, TJFLAG_ACCURATEDCT) != 0) {
        // A warning alone leaves a whole picture, except when the file was
        // cut: the rest of that picture would be made up.
        const bool warning = tjGetErrorCode(handle.get()) == TJERR_WARNING;
        if (!warning || !EndsWithEndOfImage(bytes)) {
            image = {};
            return Result::Failure(E_FAIL, std::string(warning ? "the JPEG is cut short ("
                                                               : "the JPEG cannot be decoded (") +
                                               tjGetErrorStr2(handle.get()) + ")");
        }
    }
    image.width = static_cast<std::uint32_t>(width);
    image.height = static_cast<std::uint32_t>(height);
    return {};
}

}  // namespace qv
