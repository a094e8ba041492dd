// A model's texture files, found and decoded on the CPU before any GPU work.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/pmx_model.h"
#include "formats/rgba_image.h"
#include "platform/result_code.h"

namespace qv {

// The most a model's decoded textures may take together: far above what
// models ship (tens of MiB), below what would exhaust a machine's memory
// twice over, once here and once on the GPU.
inline constexpr std::uint64_t kMaxModelTextureBytes = std::uint64_t{2} << 30;

// The decoded images of one model, in the order of its texture list.
struct ModelTextures {
    bool loaded = false;  // false until LoadModelTextures has run
    // S_OK, or why the model is refused: E_FAIL when its textures pass
    // kMaxModelTextureBytes or do not fit in memory; message says which.
    HRESULT result = S_OK;
    std::string message;
    std::vector<RgbaImage> images;
    // By image: the alpha of its most transparent texel. The renderer skips
    // the cut-out test of textures that have none to cut.
    std::vector<std::uint8_t> leastAlpha;
    // By index in the model's texture list: true where the file is missing
    // or cannot be decoded. Its image is a white texel that keeps the slots
    // in order; materials draw as if they named no texture there.
    std::vector<bool> absent;
    // One line per absent file, in texture-list order, each file once:
    // "texture not found: t\a.png", "sphere not found: ...", "toon cannot
    // be read: ... (reason)". The role is the first a material gives it.
    std::vector<std::string> warnings;
    // A model may ship its own "toon01.bmp" to "toon10.bmp" beside it; they
    // replace the shared ramps of those numbers for this model. By shared
    // toon number (0 to 9): the index in `images` (after the model's own
    // texture list), or -1 where the shared ramp stays.
    std::array<std::int32_t, 10> ownToons{-1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
};

// Finds every texture of the model next to it and decodes them side by side
// on every core. Any thread may call it. A file that is missing or cannot be
// decoded does not fail the model: it is marked absent and warned about
// (users often lack one file of many). Textures beyond kMaxModelTextureBytes,
// or beyond the memory there is, fail the model; then no image is kept. A
// toon image beside the model is optional: one that is missing or broken
// leaves the shared ramp in place.
ModelTextures LoadModelTextures(const PmxModel& model);

}  // namespace qv
