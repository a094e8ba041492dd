// Songs as float samples, whatever sample format the file stored them in.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/result.h"

namespace qv {

// PCM audio decoded from a RIFF WAVE file: interleaved 32-bit float samples in
// -1..1, whatever the file's own sample format was.
struct WavAudio {
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint16_t bitsPerSample = 0;  // as stored in the file
    bool floatingPoint = false;       // as stored in the file
    std::vector<float> samples;       // frames * channels

    std::size_t frameCount() const { return channels ? samples.size() / channels : 0; }
};

// Decodes integer PCM of 8, 16, 24 or 32 bits and 32-bit float, mono or
// stereo, at any rate, also in the extensible header form. Anything else, and
// every file cut short or with chunks that do not add up, is refused with
// E_FAIL and a sentence for the user, which says it is not a playable WAV file.
Result DecodeWav(std::span<const std::uint8_t> bytes, WavAudio& audio);

}  // namespace qv
