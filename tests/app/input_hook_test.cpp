// Window events must reach the scene as the right positions, buttons and wheel steps.
#include <gtest/gtest.h>

#include "app/input_hook.h"
#include "core/app_window.h"
#include "scene/scene.h"

namespace qv {

namespace {

SDL_Event Motion(std::uint32_t state) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.state = state;
    e.motion.x = 10;
    e.motion.y = -20;  // above the window while the mouse is captured
    return e;
}

SDL_Event Button(std::uint32_t type, std::uint8_t button) {
    SDL_Event e{};
    e.type = type;
    e.button.button = button;
    return e;
}

SDL_Event Wheel(std::int32_t y, std::uint32_t direction = SDL_MOUSEWHEEL_NORMAL) {
    SDL_Event e{};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.y = y;
    e.wheel.direction = direction;
    return e;
}

TEST(InputHookTest, SdlEventsBecomeScreenPositionsExactButtonsAndWheelSteps) {
    InputEvent out;
    const CursorPosition origin{300, 200};
    ASSERT_TRUE(TranslateSdlEvent(Motion(SDL_BUTTON_RMASK), 0, origin, &out));
    EXPECT_EQ(out.buttons, kInputRightButton);
    EXPECT_EQ(out.cursor, (CursorPosition{310, 180}));
    TranslateSdlEvent(Motion(SDL_BUTTON_MMASK), KMOD_LSHIFT, origin, &out);
    EXPECT_EQ(out.buttons, kInputMiddleButton | kInputShift);
    TranslateSdlEvent(Button(SDL_MOUSEBUTTONUP, SDL_BUTTON_MIDDLE), 0, origin, &out);
    EXPECT_EQ(out.kind, InputKind::MiddleUp);
    EXPECT_FALSE(TranslateSdlEvent(Button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_X1), 0, origin, &out));

    TranslateSdlEvent(Wheel(1, SDL_MOUSEWHEEL_FLIPPED), 0, origin, &out);
    EXPECT_EQ(out.wheelDelta, -1);
    EXPECT_FALSE(TranslateSdlEvent(Wheel(0), 0, origin, &out));  // sideways scrolling
}

// Events from SDL's queue go through the engine's message hook to the scene.
TEST(InputHookTest, QueuedEventsReachTheSceneAndOneReleaseEndsBothDrags) {
    ASSERT_EQ(SDL_Init(SDL_INIT_EVENTS), 0) << SDL_GetError();
    EngineContext ctx;
    Scene scene;
    UiState ui;
    InstallInputHook(ctx, scene, ui);

    SDL_Event f1{};
    f1.type = SDL_KEYDOWN;
    f1.key.keysym.sym = SDLK_F1;
    SDL_Event events[] = {Wheel(1), f1, Button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT),
                          Button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT),
                          Button(SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT)};
    for (SDL_Event& e : events) {
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    }
    PumpWindowEvents(ctx);
    EXPECT_EQ(scene.stage.camera.zoom, 0.5f);
    EXPECT_FALSE(ui.showNavigator);
    // There is one mouse capture: letting it go ends the left drag too.
    EXPECT_EQ(scene.stage.camera.dragging, 0u);
    EXPECT_FALSE(scene.stage.leftDragging);
    SDL_Quit();
}

TEST(InputHookTest, PlaybackKeysArriveWithShiftAndRepeat) {
    SDL_Event right{};
    right.type = SDL_KEYDOWN;
    right.key.keysym.sym = SDLK_RIGHT;
    right.key.repeat = 1;
    InputEvent out;
    ASSERT_TRUE(TranslateSdlEvent(right, KMOD_LSHIFT, {}, &out));
    EXPECT_EQ(out.key, InputKey::Right);
    EXPECT_EQ(out.buttons, kInputShift);
    EXPECT_TRUE(out.repeat);
    const std::pair<SDL_Keycode, InputKey> keys[] = {
        {SDLK_SPACE, InputKey::Space}, {SDLK_HOME, InputKey::Home}, {SDLK_LEFT, InputKey::Left},
        {SDLK_l, InputKey::L},         {SDLK_r, InputKey::R},       {SDLK_a, InputKey::Other}};
    for (const auto& [sym, key] : keys) {
        right.key.keysym.sym = sym;
        ASSERT_TRUE(TranslateSdlEvent(right, 0, {}, &out));
        EXPECT_EQ(out.key, key) << sym;
    }
}

}  // namespace

}  // namespace qv
