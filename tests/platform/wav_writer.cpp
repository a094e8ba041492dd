// A recognisable ramp, so tests can tell where in a song playback stands.
#include "tests/platform/wav_writer.h"

namespace qv {

std::vector<std::uint8_t> MakeRampWav(std::uint32_t frames, std::uint32_t sampleRate) {
    ByteWriter data;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const auto v = static_cast<std::int16_t>((i % 1000) * 16);
        data.U16(static_cast<std::uint16_t>(v));
        data.U16(static_cast<std::uint16_t>(-v));
    }
    WavHeader spec;
    spec.sampleRate = sampleRate;
    return EncodeWav(spec, data.bytes);
}

}  // namespace qv
