#include "tests/platform/wav_writer.h"

#include "tests/support/content_writers.h"

std::vector<std::uint8_t> MakeWav(const WavSpec& spec, const std::vector<std::uint8_t>& data) {
    ByteWriter body;
    body.Raw("WAVE");
    body.Raw("fmt ");
    const bool extensible = spec.format == 0xFFFE;
    body.U32(extensible ? 40 : 16);
    body.U16(spec.format);
    body.U16(spec.channels);
    body.U32(spec.sampleRate);
    const std::uint32_t blockAlign = spec.channels * spec.bitsPerSample / 8u;
    body.U32(spec.sampleRate * blockAlign);
    body.U16(blockAlign);
    body.U16(spec.bitsPerSample);
    if (extensible) {
        body.U16(22);                  // extension size
        body.U16(spec.bitsPerSample);  // valid bits
        body.U32(3);                   // channel mask
        body.U16(1);                   // sub-format GUID: PCM
        body.Raw(std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14));
    }
    if (spec.extraChunkBeforeData) {
        body.Raw("LIST");
        body.U32(3);
        body.Raw("abc");
        body.U8(0);  // pad to even
    }
    body.Raw("data");
    body.U32(static_cast<std::uint32_t>(data.size()));
    body.bytes.insert(body.bytes.end(), data.begin(), data.end());
    ByteWriter file;
    file.Raw("RIFF");
    file.U32(static_cast<std::uint32_t>(body.bytes.size()));
    file.bytes.insert(file.bytes.end(), body.bytes.begin(), body.bytes.end());
    return file.bytes;
}

std::vector<std::uint8_t> MakeRampWav(std::uint32_t frames, std::uint32_t sampleRate) {
    ByteWriter data;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const auto v = static_cast<std::int16_t>((i % 1000) * 16);
        data.U16(static_cast<std::uint16_t>(v));
        data.U16(static_cast<std::uint16_t>(-v));
    }
    WavSpec spec;
    spec.sampleRate = sampleRate;
    return MakeWav(spec, data.bytes);
}
