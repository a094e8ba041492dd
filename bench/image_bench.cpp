// Texture decoding: each library QV uses against stb_image, the decoder it replaced, in MB/s.
#include <benchmark/benchmark.h>
#include <stb_image.h>
#include <turbojpeg.h>

#include <filesystem>
#include <vector>

#include "formats/jpeg_decoder.h"
#include "formats/png_decoder.h"
#include "platform/file_read.h"

namespace qv {

namespace {

// Gene's textures, the PNGs of a real model (twelve, mostly 1024 x 1024).
const std::vector<std::vector<std::uint8_t>>& GenePngs() {
    static const std::vector<std::vector<std::uint8_t>> files = [] {
        std::vector<std::vector<std::uint8_t>> out;
        const auto folder = std::filesystem::path(QV_CONTENT_DIR) / "gene" / "light";
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
            std::vector<std::uint8_t> bytes;
            if (Succeeded(ReadWholeFile(entry.path(), bytes)) && IsPng(bytes)) {
                out.push_back(std::move(bytes));
            }
        }
        return out;
    }();
    return files;
}

// Gene's textures again as JPEG at quality 90, as many models ship them.
const std::vector<std::vector<std::uint8_t>>& GeneJpegs() {
    static const std::vector<std::vector<std::uint8_t>> files = [] {
        std::vector<std::vector<std::uint8_t>> out;
        tjhandle handle = tjInitCompress();
        for (const auto& png : GenePngs()) {
            RgbaImage image;
            if (!DecodePng(png, image).ok()) {
                continue;
            }
            unsigned char* jpeg = nullptr;
            unsigned long size = 0;
            if (tjCompress2(handle, image.pixels.data(), static_cast<int>(image.width), 0,
                            static_cast<int>(image.height), TJPF_RGBA, &jpeg, &size, TJSAMP_420, 90,
                            0) == 0) {
                out.emplace_back(jpeg, jpeg + size);
            }
            tjFree(jpeg);
        }
        tjDestroy(handle);
        return out;
    }();
    return files;
}

template <typename Decode>
void DecodeAll(benchmark::State& state, const std::vector<std::vector<std::uint8_t>>& files,
               Decode decode) {
    if (files.empty()) {
        state.SkipWithError("the shared content folder is missing");
        return;
    }
    std::int64_t pixelBytes = 0;
    for (auto _ : state) {
        for (const auto& bytes : files) {
            pixelBytes += decode(bytes);
        }
    }
    // Decoded RGBA bytes per second: the same work for every decoder.
    state.SetBytesProcessed(pixelBytes);
}

std::int64_t StbDecode(const std::vector<std::uint8_t>& bytes) {
    int w = 0, h = 0, channels = 0;
    stbi_uc* pixels =
        stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &w, &h, &channels, 4);
    stbi_image_free(pixels);
    return std::int64_t{w} * h * 4;
}

void BM_PngStbImage(benchmark::State& state) {
    DecodeAll(state, GenePngs(), StbDecode);
}
BENCHMARK(BM_PngStbImage)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PngLibspng(benchmark::State& state) {
    DecodeAll(state, GenePngs(), [](const std::vector<std::uint8_t>& bytes) {
        RgbaImage image;
        static_cast<void>(DecodePng(bytes, image));
        return static_cast<std::int64_t>(image.pixels.size());
    });
}
BENCHMARK(BM_PngLibspng)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_JpegStbImage(benchmark::State& state) {
    DecodeAll(state, GeneJpegs(), StbDecode);
}
BENCHMARK(BM_JpegStbImage)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_JpegLibjpegTurbo(benchmark::State& state) {
    DecodeAll(state, GeneJpegs(), [](const std::vector<std::uint8_t>& bytes) {
        RgbaImage image;
        static_cast<void>(DecodeJpeg(bytes, image));
        return static_cast<std::int64_t>(image.pixels.size());
    });
}
BENCHMARK(BM_JpegLibjpegTurbo)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

}  // namespace qv
