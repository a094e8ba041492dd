// A song whose samples tell their own position, for the audio tests.
#pragma once

#include <cstdint>
#include <vector>

#include "demo/file_writers.h"

namespace qv {

// Stereo 16-bit PCM: frames of a slow ramp, left positive and right negative.
std::vector<std::uint8_t> MakeRampWav(std::uint32_t frames, std::uint32_t sampleRate);

}  // namespace qv
