// Input events reduced to what the scene needs, so it works without any window library.
#pragma once

#include <cstdint>

#include "scene/camera.h"

namespace qv {

struct Scene;
struct UiState;

// Mouse buttons and modifier keys held during a mouse move, as bits. A drag
// acts only when its own button is the only thing held.
inline constexpr std::uint32_t kInputLeftButton = 0x01;
inline constexpr std::uint32_t kInputRightButton = 0x02;
inline constexpr std::uint32_t kInputShift = 0x04;
inline constexpr std::uint32_t kInputControl = 0x08;
inline constexpr std::uint32_t kInputMiddleButton = 0x10;
inline constexpr std::uint32_t kInputExtraButton1 = 0x20;
inline constexpr std::uint32_t kInputExtraButton2 = 0x40;

enum class InputKind : std::uint8_t {
    Other,
    MouseMove,
    LeftDown,
    LeftUp,
    RightDown,
    RightUp,
    MiddleDown,
    MiddleUp,
    Wheel,
    // The window lost the mouse capture (or the focus): every drag ends.
    CaptureLost,
    KeyDown,
};

enum class InputKey : std::uint8_t { Other, F1, Space, Home, Left, Right, L, R };

// One window event, reduced to what the camera, the model rotation and the
// keys look at.
struct InputEvent {
    InputKind kind = InputKind::Other;
    std::uint32_t buttons = 0;    // kInput* bits held, for MouseMove
    CursorPosition cursor;        // screen position, for mouse events
    std::int32_t wheelDelta = 0;  // > 0 towards the scene
    InputKey key = InputKey::Other;
    bool repeat = false;  // KeyDown: the key held down repeats
};

// What the window must do with the mouse capture after an event.
enum class MouseCapture : std::uint8_t { Keep, Take, Release };

// Orbit (right drag), pan (middle drag) and zoom (wheel). frameSeconds is the
// last frame's time: the orbit turns that many radians per pixel.
MouseCapture HandleCameraInput(Camera& camera, float frameSeconds, const InputEvent& event);

// A left drag turns each selected model's Y-rotation bone about the vertical
// axis, 0.3 degrees per pixel of horizontal movement.
MouseCapture HandleModelRotation(Scene& scene, const InputEvent& event);

// F1 shows or hides the navigator.
void HandleKeys(UiState& ui, const InputEvent& event);

// Everything the mouse and keyboard do outside the tool windows: the camera,
// then the model rotation, then the keys. While the tool windows want the
// mouse or the keyboard, nothing happens. A Release wins over a Take.
MouseCapture HandleSceneInput(Scene& scene, UiState& ui, float frameSeconds,
                              const InputEvent& event, bool interfaceWantsInput);

}  // namespace qv
