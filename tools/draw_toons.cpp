// Draws the ten shared toon ramps the renderer loads at start-up, as 24-bit
// BMP files toon01.bmp to toon10.bmp in the given folder. They are our own
// images: lit at the top, falling off a third of the way down to a shade
// that deepens with the number. The toon shader reads a ramp from the top
// as the light falls off, so the upper third is what faces the light.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace qv {

namespace {

constexpr std::uint32_t kSize = 32;
constexpr std::uint32_t kRampCount = 10;

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// Rows of the ramp from the top, as R, G, B.
std::vector<std::uint8_t> RampRow(std::uint32_t number, std::uint32_t y) {
    const float shade = 0.92f - 0.05f * static_cast<float>(number);
    const float t = std::clamp((static_cast<float>(y) - 6.0f) / 5.0f, 0.0f, 1.0f);
    const float value = 1.0f + (shade - 1.0f) * t;
    const auto byte = static_cast<std::uint8_t>(value * 255.0f + 0.5f);
    // A slightly cool shade reads better on skin than plain grey.
    const auto blue = static_cast<std::uint8_t>(std::min(255, byte + 6));
    return {byte, byte, blue};
}

std::vector<std::uint8_t> EncodeBmp(std::uint32_t number) {
    const std::uint32_t rowBytes = (kSize * 3 + 3) / 4 * 4;
    const std::uint32_t pixelBytes = rowBytes * kSize;
    std::vector<std::uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    Put32(out, 54 + pixelBytes);
    Put32(out, 0);
    Put32(out, 54);
    Put32(out, 40);  // BITMAPINFOHEADER
    Put32(out, kSize);
    Put32(out, kSize);  // positive: rows stored bottom-up
    Put16(out, 1);
    Put16(out, 24);
    Put32(out, 0);
    Put32(out, pixelBytes);
    Put32(out, 2835);
    Put32(out, 2835);
    Put32(out, 0);
    Put32(out, 0);
    for (std::uint32_t row = 0; row < kSize; ++row) {
        const std::vector<std::uint8_t> rgb = RampRow(number, kSize - 1 - row);
        for (std::uint32_t x = 0; x < kSize; ++x) {
            out.push_back(rgb[2]);
            out.push_back(rgb[1]);
            out.push_back(rgb[0]);
        }
        out.resize(out.size() + (rowBytes - kSize * 3), 0);
    }
    return out;
}

}  // namespace

}  // namespace qv

using namespace qv;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("Usage: qv-draw-toons FOLDER\n", stderr);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    for (std::uint32_t n = 1; n <= kRampCount; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "toon%02u.bmp", n);
        const std::vector<std::uint8_t> bytes = EncodeBmp(n);
        std::ofstream file(folder / name, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        if (!file) {
            std::fprintf(stderr, "qv-draw-toons: cannot write %s\n", (folder / name).c_str());
            return 1;
        }
    }
    return 0;
}
