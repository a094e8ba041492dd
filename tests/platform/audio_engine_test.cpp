// Songs must play, pause, stop and end the same with or without a sound device.
#include "platform/audio_engine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/platform/wav_writer.h"
#include "tests/support/temp_file.h"

namespace qv {

namespace {

using namespace std::chrono_literals;

// Waits until the mixer has moved an instance on, with a generous limit so a
// loaded machine does not fail the test.
bool WaitForPosition(const SoundEffectInstance& instance, std::uint64_t atLeast) {
    for (int i = 0; i < 400 && instance.GetPosition() < atLeast; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    return instance.GetPosition() >= atLeast;
}

}  // namespace

TEST(AudioEngine, RunsWithoutASoundDevice) {
    AudioEngine engine;
    EXPECT_TRUE(engine.Update());
    EXPECT_GT(engine.SampleRate(), 0);
    EXPECT_GT(engine.Channels(), 0);
}

TEST(AudioEngine, PlayPauseAndStopFollowTheSong) {
    AudioEngine engine;
    // Ten seconds at another rate: converted to the output rate on load.
    SoundEffect song(engine, MakeRampWav(441000, 44100));
    EXPECT_EQ(song.FrameCount(), std::size_t(10 * engine.SampleRate()));  // nothing lost at the end
    auto instance = song.CreateInstance();
    EXPECT_EQ(instance->GetState(), SoundState::Stopped);
    EXPECT_EQ(instance->GetPosition(), 0u);

    instance->Play();
    EXPECT_EQ(instance->GetState(), SoundState::Playing);
    ASSERT_TRUE(WaitForPosition(*instance, 2048));

    instance->Pause();
    EXPECT_EQ(instance->GetState(), SoundState::Paused);
    const std::uint64_t paused = instance->GetPosition();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(instance->GetPosition(), paused) << "a pause must keep the position";

    instance->Play();  // continues from the pause
    ASSERT_TRUE(WaitForPosition(*instance, paused + 1024));
    EXPECT_GE(instance->GetPosition(), paused);

    instance->Stop(true);
    EXPECT_EQ(instance->GetState(), SoundState::Stopped);
    EXPECT_EQ(instance->GetPosition(), 0u) << "a stop rewinds";
    engine.Update();
}

TEST(AudioEngine, ASongThatEndsStopsAndRewinds) {
    AudioEngine engine;
    SoundEffect blip(engine, MakeRampWav(480, 48000));  // 10 ms
    auto instance = blip.CreateInstance();
    instance->Play(false);
    for (int i = 0; i < 400 && instance->GetState() == SoundState::Playing; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(instance->GetState(), SoundState::Stopped);
    EXPECT_EQ(instance->GetPosition(), 0u);
}

TEST(AudioEngine, UnplayableFilesRaiseAClearError) {
    AudioEngine engine;
    try {
        SoundEffect missing(engine, std::filesystem::path("/nonexistent/song.wav"));
        FAIL() << "a missing file loaded";
    } catch (const AudioError& e) {
        EXPECT_NE(std::string(e.what()).find("cannot read"), std::string::npos);
    }
    std::vector<std::uint8_t> truncated = MakeRampWav(1000, 48000);
    truncated.resize(truncated.size() / 2);
    TempFile file("cut.wav", truncated);
    EXPECT_THROW(SoundEffect(engine, file.path()), AudioError);
    // The engine keeps working after a refusal.
    SoundEffect fine(engine, MakeRampWav(100, 48000));
    EXPECT_EQ(fine.FrameCount(), 100u);
}

}  // namespace qv
