// Song, motions and the play position must stay together through stalls, seeks and the end.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "formats/vmd_names.h"
#include "runtime/motion.h"
#include "scene/camera_input.h"
#include "scene/playback_clock.h"
#include "scene/playback_keys.h"
#include "scene/scene.h"
#include "tests/support/content_writers.h"
#include "tests/support/scene_models.h"

namespace qv {

namespace {

using namespace std::chrono_literals;

// Two models dancing a 3 s motion (the centre bone moves a unit a second
// along x) and a song, as the user would have them after the imports.
class PlaybackTest : public ::testing::Test {
protected:
    PlaybackTest() : scene_(std::make_unique<AudioEngine>()) {}

    void SetUp() override {
        VmdNameCodec codec;
        const std::u16string center = codec.ModelNameKey(u"センター", kVmdKeyNameBytes);
        VmdMotion motion;
        motion.boneKeys[center].push_back({center, 0, {0, 0, 0}, {0, 0, 0, 1}});
        motion.boneKeys[center].push_back({center, 90, {3, 0, 0}, {0, 0, 0, 1}});
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(AddSceneModel(scene_, "model" + std::to_string(i)), S_OK);
            AttachMotion(*scene_.models.back().instance, motion);
        }
        scene_.songs.push_back(
            {std::make_unique<SoundEffect>(*scene_.audioEngine, SilentWav(48000 * 5)), "song"});
    }

    void Frame(float dt = 1.0f / 60.0f) { UpdateScene(scene_, ui_, modelSetting_, dt); }
    void Ask(RequestKind kind, double seconds = 0.0, bool on = false) {
        ui_.requests.push_back({kind, -1, on, seconds});
    }
    float MotionTime(int model = 0) const { return scene_.models[model].instance->motion.time; }
    float CenterX() const { return scene_.models[0].instance->bones[0].translation.x; }
    SoundEffectInstance& Song() { return *scene_.playback.songInstance; }

    Scene scene_;
    UiState ui_;
    ModelSettingState modelSetting_;
};

}  // namespace

TEST_F(PlaybackTest, AStalledFrameLeavesTheDanceOnTheSong) {
    SelectSong(scene_, 0);
    PressPlay(scene_);
    for (int i = 0; i < 10; ++i) {
        std::this_thread::sleep_for(16ms);
        Frame();
    }
    const float before = MotionTime();
    // An import holds the main thread; the frame timing caps what it reports.
    std::this_thread::sleep_for(700ms);
    Frame(0.1f);
    EXPECT_GT(MotionTime() - before, 0.6f) << "the dance must not lose the stall";
    for (int m = 0; m < 2; ++m) {
        EXPECT_NEAR(MotionTime(m), scene_.playback.time, 1e-5);
    }
    EXPECT_NEAR(scene_.playback.time, Song().PlayPositionSeconds(), 1.0 / 30.0);
    // Pause keeps both where the dance is, though the song ran on since the
    // last frame, and play goes on from there together.
    std::this_thread::sleep_for(100ms);
    PressPlay(scene_);
    EXPECT_NEAR(Song().PlayPositionSeconds(), MotionTime(), 1e-4);
    PressPlay(scene_);
    Frame();
    EXPECT_NEAR(MotionTime(), Song().PlayPositionSeconds(), 1.0 / 30.0);
    // A stop rewinds both.
    StopAndReset(scene_);
    EXPECT_EQ(scene_.playback.time, 0.0);
    EXPECT_EQ(MotionTime(), 0.0f);
    EXPECT_EQ(Song().PlayPositionSeconds(), 0.0);
}

TEST_F(PlaybackTest, SeeksMoveSongAndEveryMotionPlayingOrPausedAndStopAtTheEnd) {
    SelectSong(scene_, 0);
    PressPlay(scene_);
    Frame();
    Ask(RequestKind::Seek, 2.0);
    Frame();
    EXPECT_EQ(scene_.playback.state, PlayState::Playing);
    EXPECT_NEAR(MotionTime(1), 2.0f, 0.05f);
    EXPECT_NEAR(Song().PlayPositionSeconds(), 2.0, 0.05);
    EXPECT_EQ(Song().GetState(), SoundState::Playing);

    PressPlay(scene_);
    Ask(RequestKind::Seek, 1.0);
    Ask(RequestKind::Seek, 1.5);  // a drag: only the last one of a frame counts
    Frame();
    EXPECT_EQ(scene_.playback.state, PlayState::Paused);
    EXPECT_FLOAT_EQ(MotionTime(1), 1.5f);
    EXPECT_NEAR(CenterX(), 1.5f, 1e-4f) << "a paused seek shows the pose there";
    EXPECT_NEAR(Song().PlayPositionSeconds(), 1.5, 1e-4);
    EXPECT_EQ(scene_.physics->accumulator, 0.0f);

    // Past the end: the end of the longest of song and motions.
    Ask(RequestKind::Seek, 100.0);
    Frame();
    EXPECT_DOUBLE_EQ(scene_.playback.time, 5.0);
    EXPECT_FLOAT_EQ(MotionTime(), 3.0f);
    EXPECT_NEAR(CenterX(), 3.0f, 1e-4f);
    Ask(RequestKind::Seek, -3.0);
    Frame();
    EXPECT_EQ(scene_.playback.time, 0.0);
    EXPECT_EQ(MotionTime(), 0.0f);

    // A song shorter than the dance: play pressed exactly at its end leaves it silent.
    scene_.songs.push_back(
        {std::make_unique<SoundEffect>(*scene_.audioEngine, SilentWav(48000 * 2)), "short"});
    SelectSong(scene_, 1);
    Ask(RequestKind::Seek, 2.0);
    Frame();
    PressPlay(scene_);
    EXPECT_EQ(scene_.playback.state, PlayState::Playing);
    EXPECT_NE(Song().GetState(), SoundState::Playing);
    // Sought back into it the song plays; past its end again, or exactly at
    // it, it falls silent and the dance goes on.
    for (const double end : {2.5, 2.0}) {
        Ask(RequestKind::Seek, 1.0);
        Frame();
        EXPECT_EQ(Song().GetState(), SoundState::Playing) << end;
        Ask(RequestKind::Seek, end);
        Frame();
        EXPECT_NE(Song().GetState(), SoundState::Playing) << end;
        EXPECT_GE(scene_.playback.time, end);
    }
}

TEST_F(PlaybackTest, WithoutLoopTheLastFrameHoldsAndPlayStartsAgain) {
    PressPlay(scene_);  // no song: frame time drives the dance
    Frame(0.5f);
    Frame(-0.25f);  // a clock that ran backwards moves nothing back
    EXPECT_NEAR(scene_.playback.time, 0.5, 1e-9);
    for (int i = 0; i < 40; ++i) {
        Frame(0.1f);
    }
    EXPECT_EQ(scene_.playback.state, PlayState::Paused);
    EXPECT_STREQ(PlayButtonLabel(scene_.playback.state), "Play");
    EXPECT_DOUBLE_EQ(scene_.playback.time, 3.0);
    EXPECT_FLOAT_EQ(MotionTime(), 3.0f);
    EXPECT_NEAR(CenterX(), 3.0f, 1e-4f);
    PressPlay(scene_);
    EXPECT_EQ(scene_.playback.state, PlayState::Playing);
    EXPECT_EQ(MotionTime(), 0.0f);
    // A frame that ends exactly at the end pauses there.
    for (int i = 0; i < 6; ++i) {
        Frame(0.5f);
    }
    EXPECT_EQ(scene_.playback.state, PlayState::Paused);
    EXPECT_EQ(scene_.playback.time, 3.0);
}

TEST_F(PlaybackTest, WithLoopEverythingStartsAgainTheSongToo) {
    Ask(RequestKind::SwitchLoop, 0.0, true);
    Frame();
    EXPECT_TRUE(scene_.playback.loop);
    PressPlay(scene_);  // without a song first
    for (int i = 0; i < 31; ++i) {
        Frame(0.1f);
    }
    EXPECT_EQ(scene_.playback.state, PlayState::Playing);
    EXPECT_LT(scene_.playback.time, 0.2);
    EXPECT_LT(MotionTime(), 0.2f);

    // With the song: its end is the timeline's end, and it starts again.
    SelectSong(scene_, 0);
    PressPlay(scene_);
    Ask(RequestKind::Seek, 4.99);
    Frame();
    std::this_thread::sleep_for(100ms);
    for (int i = 0; i < 3; ++i) {
        Frame(0.1f);
    }
    EXPECT_EQ(scene_.playback.state, PlayState::Playing);
    EXPECT_LT(scene_.playback.time, 1.0);
    EXPECT_EQ(Song().GetState(), SoundState::Playing);
    EXPECT_LT(Song().PlayPositionSeconds(), 1.0);
    EXPECT_NEAR(MotionTime(), scene_.playback.time, 0.1);
}

TEST_F(PlaybackTest, ADragPosesOnlyAndPhysicsSettlesWhereItStops) {
    ASSERT_NE(scene_.physics, nullptr);
    // A settle restarts the step accumulator; a frame of no time leaves it.
    scene_.physics->accumulator = 0.01f;
    // Only the last seek of a frame is carried out: out and back to the
    // start leaves a stopped scene stopped.
    ui_.requests.push_back({RequestKind::Seek, -1, false, 1.0, false});
    ui_.requests.push_back({RequestKind::Seek, -1, false, 0.0, false});
    Frame(0.0f);
    EXPECT_EQ(scene_.playback.state, PlayState::Stopped);
    ui_.requests.push_back({RequestKind::Seek, -1, false, 1.0, false});
    Frame(0.0f);
    EXPECT_NEAR(CenterX(), 1.0f, 1e-4f);
    EXPECT_EQ(scene_.physics->accumulator, 0.01f);
    EXPECT_EQ(scene_.playback.state, PlayState::Paused);  // away from the start it holds
    // A settling seek that a posing one replaced in the same frame still settles.
    ui_.requests.push_back({RequestKind::Seek, -1, false, 1.5, true});
    ui_.requests.push_back({RequestKind::Seek, -1, false, 2.0, false});
    Frame(0.0f);
    EXPECT_NEAR(CenterX(), 2.0f, 1e-4f);
    EXPECT_EQ(scene_.physics->accumulator, 0.0f);
}

// Both ways, a frame or a whole second, each step counted from the seeks
// still waiting: a press sequence that ends where it began proves nothing.
TEST_F(PlaybackTest, ArrowKeysStepAFrameOrASecondEachWay) {
    Ask(RequestKind::Seek, 1.01);  // between frames: a step lands on the next one
    Frame(0.0f);
    InputEvent key{InputKind::KeyDown, 0, {}, 0, InputKey::Other};
    const auto press = [&](InputKey which, std::uint32_t buttons = 0) {
        key.key = which;
        key.buttons = buttons;
        HandlePlaybackKeys(scene_, ui_, key, false);
        return ui_.requests.back().seconds;
    };
    EXPECT_NEAR(press(InputKey::Right), 31.0 / 30.0, 1e-9);
    EXPECT_NEAR(press(InputKey::Left), 1.0, 1e-9);
    EXPECT_NEAR(press(InputKey::Left), 29.0 / 30.0, 1e-9);
    EXPECT_NEAR(press(InputKey::Right, kInputShift), 59.0 / 30.0, 1e-9);
    EXPECT_NEAR(press(InputKey::Left, kInputShift), 29.0 / 30.0, 1e-9);
    Frame(0.0f);
    EXPECT_NEAR(scene_.playback.time, 29.0 / 30.0, 1e-9);
    EXPECT_NEAR(MotionTime(), 29.0f / 30.0f, 1e-6f);
    // At the start a step back stays there.
    Ask(RequestKind::Seek, 0.0);
    EXPECT_EQ(press(InputKey::Left), 0.0);
    EXPECT_EQ(press(InputKey::Left, kInputShift), 0.0);
    // A stop still waiting for its frame has already put the position at the start.
    Ask(RequestKind::Seek, 2.0);
    Ask(RequestKind::StopAndReset);
    EXPECT_NEAR(press(InputKey::Right), 1.0 / 30.0, 1e-9);
    // R asks for the view to be reset, wherever the play position is.
    scene_.stage.camera.yaw = 1.0f;
    press(InputKey::R);
    EXPECT_EQ(ui_.requests.back().kind, RequestKind::ResetView);
    Frame(0.0f);
    EXPECT_EQ(scene_.stage.camera.yaw, 0.0f);
}

TEST(PlaybackLengthTest, ATimelineOfLengthZeroHoldsAtItsStart) {
    Scene scene(std::make_unique<AudioEngine>());
    UiState ui;
    ModelSettingState modelSetting;
    ASSERT_EQ(AddSceneModel(scene, "still"), S_OK);  // no motion: nothing to play
    ASSERT_EQ(PlaybackLength(scene), 0.0);
    PressPlay(scene);
    for (int i = 0; i < 5; ++i) {
        UpdateScene(scene, ui, modelSetting, 0.1f);
    }
    EXPECT_EQ(scene.playback.time, 0.0);
    EXPECT_EQ(scene.playback.state, PlayState::Playing);
    SeekPlayback(scene, 5.0);  // past the end: held at the end
    EXPECT_EQ(scene.playback.time, 0.0);
    SeekPlayback(scene, std::nan(""));  // no time at all: the start
    EXPECT_EQ(scene.playback.time, 0.0);
    // Not playing, a frame time that is no number moves a model set playing by hand by none.
    PressPlay(scene);
    ASSERT_NE(scene.playback.state, PlayState::Playing);
    EXPECT_EQ(AdvancePlayback(scene, std::nanf("")), 0.0);
    EXPECT_EQ(AdvancePlayback(scene, 0.25f), 0.25);
    // Played again, nothing is rewound: the head its body holds stays where it hangs.
    const BoneState& head = scene.models[0].instance->bones[1];
    const Vector4 hanging = head.framePosition;
    PressPlay(scene);
    EXPECT_EQ(head.framePosition, hanging);
    PressPlay(scene);

    // A timeline under a second, played to its end, plays again from the start.
    scene.songs.push_back(
        {std::make_unique<SoundEffect>(*scene.audioEngine, SilentWav(24000)), "short"});
    SelectSong(scene, 0);
    ASSERT_EQ(PlaybackLength(scene), 0.5);
    StopAndReset(scene);
    SeekPlayback(scene, 0.5);  // a stopped scene away from its start holds there, paused
    ASSERT_EQ(scene.playback.state, PlayState::Paused);
    PressPlay(scene);
    EXPECT_EQ(scene.playback.state, PlayState::Playing);
    EXPECT_EQ(scene.playback.time, 0.0);
    // Looping too: no restart, no climb.
    scene.playback.loop = true;
    for (int i = 0; i < 5; ++i) {
        UpdateScene(scene, ui, modelSetting, 0.1f);
    }
    EXPECT_EQ(scene.playback.time, 0.0);
    EXPECT_EQ(scene.playback.state, PlayState::Playing);

    // A dance under a second, without a song, plays through and holds its last frame.
    Scene dance(std::make_unique<AudioEngine>());
    ASSERT_EQ(AddSceneModel(dance, "short"), S_OK);
    const std::u16string center = VmdNameCodec().ModelNameKey(u"センター", kVmdKeyNameBytes);
    VmdMotion motion;
    motion.boneKeys[center].push_back({center, 0, {0, 0, 0}, {0, 0, 0, 1}});
    motion.boneKeys[center].push_back({center, 15, {1, 0, 0}, {0, 0, 0, 1}});
    AttachMotion(*dance.models[0].instance, motion);
    ASSERT_EQ(PlaybackLength(dance), 0.5);
    PressPlay(dance);
    UpdateScene(dance, ui, modelSetting, 0.2f);
    EXPECT_NEAR(dance.playback.time, 0.2, 1e-6);
    for (int i = 0; i < 3; ++i) {
        UpdateScene(dance, ui, modelSetting, 0.2f);
    }
    EXPECT_EQ(dance.playback.state, PlayState::Paused);
    EXPECT_EQ(dance.playback.time, 0.5);
    EXPECT_NEAR(dance.models[0].instance->bones[0].translation.x, 1.0f, 1e-5f);
}

}  // namespace qv
