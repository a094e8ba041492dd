// A model with every record kind, and silent songs, for tests, fuzz seeds and benchmarks.
#pragma once

#include <string>

#include "demo/file_writers.h"
#include "formats/vpd_pose.h"

namespace qv {

// The first line pose files carry: a fixed prefix, then the format's fixed
// signature (both spelled as bytes).
inline const std::string kVpdFirstLine =
    std::string("\x56\x6f\x63\x61\x6c\x6f\x69\x64\x20") + std::string(kVpdSignature);

// A small model with at least one record of every kind and every deform,
// morph and joint variant, for round trips.
PmxModel SamplePmxModel();

// A WAV file of `frames` frames of silence: 48 kHz, stereo, 16-bit PCM.
std::vector<std::uint8_t> SilentWav(std::uint32_t frames);

}  // namespace qv
