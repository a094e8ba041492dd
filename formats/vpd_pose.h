// Pose files: a text list of bone positions, rotations and morph weights, read as a one-key motion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/vmd_motion.h"
#include "platform/result_code.h"

namespace qv {

// The text the first line of every pose file ends in, the format's fixed
// signature, spelled as bytes.
inline constexpr std::string_view kVpdSignature =
    "\x50\x6f\x73\x65\x20\x44\x61\x74\x61\x20\x66\x69\x6c\x65";

// What was wrong with a pose's lines. Only the first kVpdWarningsKept are
// kept as text ("line 12: ..."); count holds them all, so a file of a
// million bad lines costs no more memory than one of a hundred.
inline constexpr std::size_t kVpdWarningsKept = 100;
struct VpdWarnings {
    std::vector<std::string> lines;
    std::size_t count = 0;
};

// Parses a whole pose file held in memory (code page 932 text) into motion:
// one key at frame 0 per bone and per morph, named as a motion file would
// store the name (cut to its field width, vmd_names.h), so that poses bind to
// models as motions do. modelName holds the model file name the pose names.
// E_FAIL when the first line does not end in kVpdSignature: the file is not a
// pose. Otherwise S_OK: each bad line is skipped with one warning, and a bone
// or morph keeps what its good lines gave (position 0, rotation identity,
// weight 0 for the rest).
HRESULT ParseVpdPose(VmdMotion& motion, std::span<const std::uint8_t> bytes, VpdWarnings& warnings);

// Reads a pose file: E_INVALIDARG for an empty path, E_FAIL for a file that
// cannot be read, is empty or is not a pose.
HRESULT LoadVpdPose(VmdMotion& motion, const std::filesystem::path& path, VpdWarnings& warnings);

}  // namespace qv
