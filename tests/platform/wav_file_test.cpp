// Songs of every sample format must decode alike, and malformed files be refused.
#include "platform/wav_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tests/platform/wav_writer.h"

namespace qv {

namespace {

WavAudio Decode(const std::vector<std::uint8_t>& bytes) {
    WavAudio audio;
    Result decoded;
    EXPECT_TRUE((decoded = DecodeWav(bytes, audio)).ok()) << decoded.message;
    return audio;
}

std::string Refusal(const std::vector<std::uint8_t>& bytes) {
    WavAudio audio;
    Result decoded;
    EXPECT_FALSE((decoded = DecodeWav(bytes, audio)).ok());
    EXPECT_EQ(decoded.code, E_FAIL);
    EXPECT_TRUE(audio.samples.empty());
    return decoded.message;
}

}  // namespace

TEST(WavFile, DecodesEveryIntegerWidthToTheSameScale) {
    struct Case {
        std::uint16_t bits;
        std::vector<std::uint8_t> data;  // one mono sample of minus half scale, one of zero
    };
    const Case cases[] = {
        {8, {0x40, 0x80}},
        {16, {0x00, 0xC0, 0x00, 0x00}},
        {24, {0x00, 0x00, 0xC0, 0x00, 0x00, 0x00}},
        {32, {0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        WavHeader spec;
        spec.channels = 1;
        spec.bitsPerSample = c.bits;
        const WavAudio a = Decode(EncodeWav(spec, c.data));
        ASSERT_EQ(a.samples.size(), 2u) << c.bits;
        EXPECT_FLOAT_EQ(a.samples[0], -0.5f) << c.bits;
        EXPECT_FLOAT_EQ(a.samples[1], 0.0f) << c.bits;
        EXPECT_EQ(a.bitsPerSample, c.bits);
    }
}

TEST(WavFile, FloatStereoExtensibleAndPaddedChunks) {
    WavHeader spec;
    spec.format = 3;
    spec.bitsPerSample = 32;
    spec.sampleRate = 22050;
    spec.extraChunkBeforeData = true;
    std::vector<std::uint8_t> data(16);
    const float values[4] = {0.25f, -1.0f, 1.0f, 0.0f};
    std::memcpy(data.data(), values, 16);
    const WavAudio a = Decode(EncodeWav(spec, data));
    EXPECT_EQ(a.channels, 2);
    EXPECT_EQ(a.sampleRate, 22050u);
    EXPECT_EQ(a.frameCount(), 2u);
    EXPECT_EQ(a.samples[1], -1.0f);

    WavHeader ext;
    ext.format = 0xFFFE;
    const WavAudio b = Decode(EncodeWav(ext, {0x00, 0x40, 0x00, 0xC0}));
    EXPECT_FLOAT_EQ(b.samples[0], 0.5f);
    EXPECT_FLOAT_EQ(b.samples[1], -0.5f);
}

TEST(WavFile, FloatSamplesOutsideTheRangeAreTamed) {
    // Clipped masters and damaged files: loud values clip, NaN and infinities fall silent.
    WavHeader spec;
    spec.format = 3;
    spec.bitsPerSample = 32;
    spec.channels = 1;
    const float values[5] = {2.5f, -7.0f, std::nanf(""), -INFINITY, 0.5f};
    std::vector<std::uint8_t> data(sizeof values);
    std::memcpy(data.data(), values, sizeof values);
    const WavAudio a = Decode(EncodeWav(spec, data));
    EXPECT_EQ(a.samples, (std::vector<float>{1.0f, -1.0f, 0.0f, 0.0f, 0.5f}));
}

TEST(WavFile, RefusesTruncatedAndMalformedFiles) {
    const std::vector<std::uint8_t> good = MakeRampWav(100, 48000);
    EXPECT_NE(Refusal({}).find("RIFF"), std::string::npos);
    // Cut inside the sample data: the data chunk claims more than is there.
    std::vector<std::uint8_t> cut(good.begin(), good.end() - 10);
    EXPECT_NE(Refusal(cut).find("cut short"), std::string::npos);
    // Cut inside the header.
    Refusal({good.begin(), good.begin() + 30});
    // A sample frame split by the end of the data.
    WavHeader spec;
    EXPECT_NE(Refusal(EncodeWav(spec, {1, 2, 3})).find("inside a sample frame"), std::string::npos);
    WavHeader adpcm;
    adpcm.format = 2;
    EXPECT_NE(Refusal(EncodeWav(adpcm, {0, 0, 0, 0})).find("format 2"), std::string::npos);
    WavHeader surround;
    surround.channels = 6;
    EXPECT_NE(Refusal(EncodeWav(surround, std::vector<std::uint8_t>(12))).find("6 channels"),
              std::string::npos);
    WavHeader twelveBit;
    twelveBit.bitsPerSample = 12;
    Refusal(EncodeWav(twelveBit, {0, 0, 0}));
    WavHeader noRate;
    noRate.sampleRate = 0;
    Refusal(EncodeWav(noRate, {0, 0, 0, 0}));
    // A chunk size of 4 GiB must not be trusted.
    std::vector<std::uint8_t> huge = good;
    huge[40] = huge[41] = huge[42] = huge[43] = 0xFF;
    Refusal(huge);
}

}  // namespace qv
