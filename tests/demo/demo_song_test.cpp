// The demo beat must decode and keep time with the dance.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "demo/demo_content.h"
#include "platform/wav_file.h"

namespace qv {

namespace {

TEST(DemoSong, DecodesAndLastsAsLongAsTheDance) {
    const std::vector<std::uint8_t> bytes = DemoSong();
    WavAudio audio;
    Result decoded;
    ASSERT_TRUE((decoded = DecodeWav(bytes, audio)).ok()) << decoded.message;
    EXPECT_EQ(audio.channels, 1);
    EXPECT_EQ(audio.bitsPerSample, 16);
    EXPECT_FALSE(audio.floatingPoint);
    const float seconds = static_cast<float>(audio.frameCount()) / audio.sampleRate;
    EXPECT_NEAR(seconds, kDemoBeats * 60.0f / kDemoBeatsPerMinute, 0.05f);

    // A kick starts every beat: loud right after it, nearly silent just before.
    const auto perBeat = static_cast<std::size_t>(audio.sampleRate * 60.0f / kDemoBeatsPerMinute);
    auto peak = [&](std::size_t from, std::size_t count) {
        float loudest = 0.0f;
        for (std::size_t i = from; i < from + count && i < audio.samples.size(); ++i) {
            loudest = std::max(loudest, std::abs(audio.samples[i]));
        }
        return loudest;
    };
    for (std::size_t beat = 1; beat < kDemoBeats; beat += 7) {
        EXPECT_GT(peak(beat * perBeat, perBeat / 10), 0.3f) << beat;
        EXPECT_LT(peak(beat * perBeat - perBeat / 20, perBeat / 20), 0.1f) << beat;
    }
    EXPECT_LE(peak(0, audio.samples.size()), 0.81f);  // headroom, no clipping
}

}  // namespace

}  // namespace qv
