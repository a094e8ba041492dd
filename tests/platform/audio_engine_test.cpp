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

TEST(AudioEngine, ThePlayPositionRunsOnTheDeviceClockAndASeekMovesIt) {
    AudioEngine engine;
    SoundEffect song(engine, MakeRampWav(480000, 48000));  // 10 s
    auto instance = song.CreateInstance();
    instance->SetPositionSeconds(2.0);
    EXPECT_DOUBLE_EQ(instance->PlayPositionSeconds(), 2.0);
    instance->Play();
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitForPosition(*instance, 2 * 48000 + 4096));
    double last = 0.0;
    for (int i = 0; i < 20; ++i) {
        const double heard = instance->PlayPositionSeconds();
        // Never ahead of the mix, never ahead of the time since the start.
        EXPECT_LE(heard, static_cast<double>(instance->GetPosition()) / 48000.0);
        const std::chrono::duration<double> since = std::chrono::steady_clock::now() - started;
        EXPECT_LE(heard, 2.0 + since.count() + 1e-3);
        EXPECT_GE(heard, last - 1e-3) << "it runs forwards";
        last = heard;
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_GT(last, 2.0);
    // A seek while playing goes on from there; past the end is the end.
    instance->SetPositionSeconds(7.5);
    EXPECT_NEAR(instance->PlayPositionSeconds(), 7.5, 0.05);
    instance->Pause();
    instance->SetPositionSeconds(100.0);
    EXPECT_DOUBLE_EQ(instance->PlayPositionSeconds(), 10.0);
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
