// PNG files decoded through libspng, within the texture size limits.
#include "formats/png_decoder.h"

#include <spng.h>

#include <cstring>
#include <memory>

namespace qv {

namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Text and other ancillary chunks a texture does not need may not make the
// decoder hold more than this.
constexpr std::size_t kChunkLimit = 64u << 20;

struct ContextFree {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};

}  // namespace

bool IsPng(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= sizeof kSignature &&
           std::memcmp(bytes.data(), kSignature, sizeof kSignature) == 0;
}

Result DecodePng(std::span<const std::uint8_t> bytes, RgbaImage& image) {
    image = {};
    std::unique_ptr<spng_ctx, ContextFree> ctx(spng_ctx_new(0));
    if (!ctx) {
        return Result::Failure(E_FAIL, "the PNG decoder cannot start");
    }
    spng_set_image_limits(ctx.get(), kMaxImageSide, kMaxImageSide);
    spng_set_chunk_limits(ctx.get(), kChunkLimit, kChunkLimit);
    int ret = spng_set_png_buffer(ctx.get(), bytes.data(), bytes.size());
    spng_ihdr header{};
    if (ret == 0) {
        ret = spng_get_ihdr(ctx.get(), &header);
    }
    if (ret != 0) {
        return Result::Failure(
            E_FAIL, std::string("not a PNG this player reads (") + spng_strerror(ret) + ")");
    }
    if (header.width == 0 || header.height == 0 || header.width > kMaxImageSide ||
        header.height > kMaxImageSide ||
        std::uint64_t{header.width} * header.height > kMaxImagePixels) {
        return Result::Failure(E_FAIL, "its size of " + std::to_string(header.width) + " x " +
                                           std::to_string(header.height) + " is not usable");
    }
    std::size_t size = 0;
    if ((ret = spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &size)) != 0) {
        return Result::Failure(
            E_FAIL, std::string("the PNG cannot be decoded (") + spng_strerror(ret) + ")");
    }
    MakeRoomForPixels(image.pixels, size);
    if ((ret = spng_decode_image(ctx.get(), image.pixels.data(), size, SPNG_FMT_RGBA8,
                                 SPNG_DECODE_TRNS)) != 0) {
        image = {};
        return Result::Failure(
            E_FAIL, std::string("the PNG cannot be decoded (") + spng_strerror(ret) + ")");
    }
    image.width = header.width;
    image.height = header.height;
    return {};
}

}  // namespace qv
