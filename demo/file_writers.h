// Writes content files in memory, for the demo and for tests that need any file at all.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/pmx_model.h"
#include "formats/vmd_motion.h"

namespace qv {

// Writes content files byte by byte as the published layouts give them: the
// built-in demo content, and tests and benchmarks that need any file at all,
// hostile ones included.
class ByteWriter {
public:
    std::vector<std::uint8_t> bytes;

    void U8(std::uint32_t v) { bytes.push_back(static_cast<std::uint8_t>(v)); }
    void U16(std::uint32_t v);
    void U32(std::uint32_t v);
    void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
    void F32(float v);
    void F3(const Float3& v) { F32(v.x), F32(v.y), F32(v.z); }
    void F4(const Float4& v) { F32(v.x), F32(v.y), F32(v.z), F32(v.w); }
    void Raw(const std::string& s) { bytes.insert(bytes.end(), s.begin(), s.end()); }
    // A fixed-width field: the bytes of s, cut or padded with zeros to width.
    void Fixed(const std::string& s, std::size_t width);
    // An index of the given width (-1 as all ones; widths other than 1, 2 and
    // 4 write nothing, as readers take nothing for them).
    void Index(std::int32_t v, std::uint32_t width);
};

struct PmxWriteOptions {
    std::uint32_t globalCount = 8;
};

// The file a PMX writer would produce for model. Texts are written in the
// model's textEncoding; indices with its index sizes.
std::vector<std::uint8_t> EncodePmx(const PmxModel& model, const PmxWriteOptions& options = {});

struct VmdRawBoneKey {
    VmdRawBoneKey(std::string n, std::uint32_t f, Float3 p = {}, Float4 r = {0, 0, 0, 1},
                  std::uint8_t fill = 20)
        : name(std::move(n)), frame(f), position(p), rotation(r), interpolationFill(fill) {}
    std::string name;  // raw Shift-JIS bytes, cut or padded to 15
    std::uint32_t frame = 0;
    Float3 position;
    Float4 rotation{0, 0, 0, 1};
    // Without explicit bytes, byte i of the interpolation block is fill + i.
    std::uint8_t interpolationFill = 20;
    std::optional<std::array<std::uint8_t, 64>> interpolation;
};

// The 64 interpolation bytes of a bone key whose four curves (X, Y, Z,
// rotation) share the control points (x1, y1) and (x2, y2), each 0 to 127,
// laid out as editors write them: four rows, each the first shifted by one.
std::array<std::uint8_t, 64> VmdBoneInterpolation(std::uint8_t x1, std::uint8_t y1, std::uint8_t x2,
                                                  std::uint8_t y2);

struct VmdRawMorphKey {
    std::string name;
    std::uint32_t frame = 0;
    float weight = 0.0f;
};

struct VmdFile {
    std::string signature{kVmdSignature};
    std::size_t modelNameBytes = 20;
    std::string modelName = "model";
    std::vector<VmdRawBoneKey> bones;
    std::vector<VmdRawMorphKey> morphs;
    std::vector<VmdCameraKey> cameras;
    std::vector<VmdLightKey> lights;
    std::vector<VmdShadowKey> shadows;
    bool writeCameraLightShadow = true;  // older files end after the morph keys
};

std::vector<std::uint8_t> EncodeVmd(const VmdFile& file);

// The header fields EncodeWav writes before the sample bytes: the format
// chunk's values, which the bytes must match, and whether another chunk comes
// before the data.
struct WavHeader {
    std::uint16_t format = 1;  // 1 PCM, 3 float, 0xFFFE extensible (PCM sub-format)
    std::uint16_t channels = 2;
    std::uint32_t sampleRate = 48000;
    std::uint16_t bitsPerSample = 16;
    bool extraChunkBeforeData = false;  // a LIST chunk of odd size, padded
};

// A RIFF WAVE file: the header, then the sample bytes as they are given.
std::vector<std::uint8_t> EncodeWav(const WavHeader& header, const std::vector<std::uint8_t>& data);

// Text as Shift-JIS (code page 932) bytes, the way VMD files store names.
// Characters the code page lacks become '?'.
std::string EncodeCp932(const std::u16string& text);

}  // namespace qv
