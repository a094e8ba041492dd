// A model with every record kind, and silent songs, for tests, fuzz seeds and benchmarks.
#pragma once

#include "demo/file_writers.h"

namespace qv {

// A small model with at least one record of every kind and every deform,
// morph and joint variant, for round trips.
PmxModel SamplePmxModel();

// A WAV file of `frames` frames of silence: 48 kHz, stereo, 16-bit PCM.
std::vector<std::uint8_t> SilentWav(std::uint32_t frames);

}  // namespace qv
