// The playback bar and its keys ask for play, stop, seeks and the loop, never over typing.
#include <gtest/gtest.h>

#include <string>

#include "scene/camera_input.h"
#include "scene/playback_clock.h"
#include "scene/playback_keys.h"
#include "scene/scene.h"
#include "tests/support/content_writers.h"
#include "tests/ui/interface_driver.h"
#include "ui/main_windows.h"
#include "ui/playback_bar.h"

namespace qv {

namespace {

std::string TimeText(double seconds) {
    char text[32];
    FormatPlaybackTime(seconds, text, sizeof(text));
    return text;
}

class PlaybackBarTest : public InterfaceSceneTest {
protected:
    PlaybackBarTest() {
        scene_.songs.push_back(
            {std::make_unique<SoundEffect>(*scene_.audioEngine, SilentWav(48000 * 2)), "song"});
        SelectSong(scene_, 0);
        ui_.showStatistics = false;
        driver_.Frames(2);
    }

    bool ClickBar(const char* label) {
        return driver_.Click(kPlaybackBarWindow, InterfaceDriver::Id(kPlaybackBarWindow, {label}));
    }
};

}  // namespace

TEST(PlaybackTimeTest, TimeTextAndFrameNumber) {
    EXPECT_EQ(TimeText(0.0), "0:00.00");
    EXPECT_EQ(TimeText(0.5), "0:00.50");
    EXPECT_EQ(TimeText(59.99), "0:59.99");
    EXPECT_EQ(TimeText(59.999), "1:00.00");  // rounds up into the next minute, never ":60"
    EXPECT_EQ(TimeText(3725.5), "62:05.50");
    EXPECT_EQ(TimeText(-2.0), "0:00.00");
    EXPECT_EQ(TimeText(std::nan("")), "0:00.00");
    char tiny[4];
    FormatPlaybackTime(3725.5, tiny, sizeof(tiny));
    EXPECT_EQ(std::string(tiny), "62:");
    EXPECT_EQ(TimelineFrame(0.0), 0);
    EXPECT_EQ(TimelineFrame(0.7f), 21);  // a hair under frame 21 in float is frame 21
    EXPECT_EQ(TimelineFrame(59.99), 1799);
    EXPECT_EQ(TimelineFrame(-1.0), 0);
}

TEST_F(PlaybackBarTest, ControlsAskTheSceneAndItCarriesThemOut) {
    const ImGuiWindow* bar = driver_.Window(kPlaybackBarWindow);
    ASSERT_NE(bar, nullptr);
    EXPECT_FLOAT_EQ(bar->Pos.y + bar->Size.y, 720.0f) << "along the bottom";
    EXPECT_FLOAT_EQ(bar->Size.x, 1280.0f);
    // One row of controls tall, with the window's padding above and below.
    EXPECT_FLOAT_EQ(bar->Size.y,
                    ImGui::GetFrameHeight() + 2.0f * ImGui::GetStyle().WindowPadding.y);
    // The time, the length and the frame, as the slider moves them.
    SeekPlayback(scene_, 1.5, true);
    driver_.Frames(1);
    EXPECT_NE(driver_.DrawnText(kPlaybackBarWindow).find("0:01.50/0:02.00frame45"),
              std::string::npos)
        << driver_.DrawnText(kPlaybackBarWindow);
    SeekPlayback(scene_, 0.0, true);

    ASSERT_TRUE(ClickBar("###BarPlay"));
    ASSERT_EQ(Asked(ui_, RequestKind::PressPlay).size(), 1u);
    SceneUpdate();
    EXPECT_EQ(scene_.playback.state, PlayState::Playing);
    driver_.Frames(2);
    ASSERT_TRUE(ClickBar("Loop"));
    ASSERT_TRUE(ClickBar("##Seek"));
    SceneUpdate();
    EXPECT_TRUE(scene_.playback.loop);
    EXPECT_GE(scene_.playback.time, 0.0);
    EXPECT_LE(scene_.playback.time, 2.0);
    driver_.Frames(2);
    ASSERT_TRUE(ClickBar("Stop"));
    SceneUpdate();
    EXPECT_EQ(scene_.playback.state, PlayState::Stopped);
    // F1 hides the navigator, not the bar.
    ui_.showNavigator = false;
    driver_.Frames(2);
    EXPECT_TRUE(driver_.Window(kPlaybackBarWindow)->Active);
    // With nothing on the timeline the slider is greyed: a click asks for
    // nothing, even with a key's step still waiting.
    ui_.requests.push_back({RequestKind::DeleteSong, 0});
    SceneUpdate();
    ASSERT_EQ(PlaybackLength(scene_), 0.0);
    ui_.requests.push_back({RequestKind::Seek, -1, false, 1.0, true});
    driver_.Frames(2);
    ASSERT_TRUE(ClickBar("##Seek"));
    EXPECT_EQ(Asked(ui_, RequestKind::Seek).size(), 1u);
    // Half a second is a timeline too: its slider answers.
    ui_.requests.clear();
    scene_.songs.push_back(
        {std::make_unique<SoundEffect>(*scene_.audioEngine, SilentWav(24000)), "short"});
    SelectSong(scene_, 0);
    ASSERT_EQ(PlaybackLength(scene_), 0.5);
    driver_.Frames(2);
    ASSERT_TRUE(ClickBar("##Seek"));
    EXPECT_FALSE(Asked(ui_, RequestKind::Seek).empty());
}

TEST_F(PlaybackBarTest, ADragAlongTheTimelinePosesOnlyAndSettlesOnceAtTheEnd) {
    ImVec2 at;
    ASSERT_TRUE(
        driver_.Find(kPlaybackBarWindow, InterfaceDriver::Id(kPlaybackBarWindow, {"##Seek"}), &at));
    ImGuiIO& io = driver_.Io();
    io.MousePos = at;
    driver_.Frame();
    io.MouseDown[0] = true;
    for (int i = 0; i < 4; ++i) {
        io.MousePos.x += 20.0f;
        driver_.Frame();
    }
    const std::vector<std::int32_t> dragged = Asked(ui_, RequestKind::Seek);
    ASSERT_GE(dragged.size(), 2u);
    for (const SceneRequest& request : ui_.requests) {
        EXPECT_FALSE(request.settle);
    }
    const double last = ui_.requests.back().seconds;
    SceneUpdate();
    io.MouseDown[0] = false;
    driver_.Frame();
    ASSERT_EQ(Asked(ui_, RequestKind::Seek).size(), 1u);
    EXPECT_TRUE(ui_.requests[0].settle);
    EXPECT_EQ(ui_.requests[0].seconds, last);
}

TEST_F(PlaybackBarTest, KeysAskLikeTheBarButNotWhileATextFieldTypes) {
    InputEvent key;
    key.kind = InputKind::KeyDown;
    const auto press = [&](InputKey which, bool shift = false, bool repeat = false) {
        key.key = which;
        key.buttons = shift ? kInputShift : 0;
        key.repeat = repeat;
        HandlePlaybackKeys(scene_, ui_, key, driver_.Io().WantCaptureKeyboard);
    };
    // Frame steps while paused, counted from the seeks still waiting.
    press(InputKey::Right);
    press(InputKey::Right, false, true);  // held: steps repeat
    press(InputKey::Right, true);
    press(InputKey::Left);
    ASSERT_EQ(Asked(ui_, RequestKind::Seek).size(), 4u);
    EXPECT_NEAR(ui_.requests.back().seconds, 2.0 / 30.0 + 1.0 - 1.0 / 30.0, 1e-9);
    // A repeat poses only; a press lets physics settle.
    EXPECT_TRUE(ui_.requests[0].settle);
    EXPECT_FALSE(ui_.requests[1].settle);
    EXPECT_TRUE(ui_.requests[2].settle);
    press(InputKey::L);
    press(InputKey::L, false, true);  // a held key toggles once
    press(InputKey::Home);
    press(InputKey::R);
    SceneUpdate();
    EXPECT_TRUE(scene_.playback.loop);
    EXPECT_EQ(scene_.playback.time, 0.0);
    // A second press before the update undoes the first.
    press(InputKey::L);
    press(InputKey::L);
    SceneUpdate();
    EXPECT_TRUE(scene_.playback.loop);
    press(InputKey::L);  // and one alone turns the loop off again
    SceneUpdate();
    EXPECT_FALSE(scene_.playback.loop);
    press(InputKey::Space);
    SceneUpdate();
    EXPECT_EQ(scene_.playback.state, PlayState::Playing);
    press(InputKey::Right);  // no steps while playing
    EXPECT_TRUE(ui_.requests.empty());

    // A text field that has the keyboard keeps every key.
    ui_.showPhysicsSetting = true;
    driver_.Frames(2);
    ASSERT_TRUE(driver_.Click("Physics setting",
                              InterfaceDriver::Id("Physics setting", {"Simulation step time"})));
    driver_.Frames(2);
    ASSERT_TRUE(driver_.Io().WantTextInput);
    // An import status window that opens meanwhile (a drop) leaves the field typing.
    ui_.showImportStatus = true;
    driver_.Frames(2);
    ASSERT_TRUE(driver_.Io().WantTextInput);
    for (InputKey which :
         {InputKey::Space, InputKey::Home, InputKey::Left, InputKey::L, InputKey::R}) {
        press(which);
    }
    EXPECT_TRUE(ui_.requests.empty());
}

}  // namespace qv
