#pragma once

#include <cstdint>
#include <vector>

// A RIFF WAVE file with the given sample bytes, for tests.
struct WavSpec {
    std::uint16_t format = 1;  // 1 PCM, 3 float, 0xFFFE extensible (PCM sub-format)
    std::uint16_t channels = 2;
    std::uint32_t sampleRate = 48000;
    std::uint16_t bitsPerSample = 16;
    bool extraChunkBeforeData = false;  // a LIST chunk of odd size, padded
};

std::vector<std::uint8_t> MakeWav(const WavSpec& spec, const std::vector<std::uint8_t>& data);

// Stereo 16-bit PCM: frames of a slow ramp, left positive and right negative.
std::vector<std::uint8_t> MakeRampWav(std::uint32_t frames, std::uint32_t sampleRate);
