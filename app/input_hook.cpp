#include "app/input_hook.h"

#include "scene/scene.h"

namespace {

std::uint32_t HeldButtons(std::uint32_t sdlButtons, std::uint32_t modifiers) {
    std::uint32_t held = 0;
    if ((sdlButtons & SDL_BUTTON_LMASK) != 0) {
        held |= kInputLeftButton;
    }
    if ((sdlButtons & SDL_BUTTON_RMASK) != 0) {
        held |= kInputRightButton;
    }
    if ((sdlButtons & SDL_BUTTON_MMASK) != 0) {
        held |= kInputMiddleButton;
    }
    if ((sdlButtons & SDL_BUTTON_X1MASK) != 0) {
        held |= kInputExtraButton1;
    }
    if ((sdlButtons & SDL_BUTTON_X2MASK) != 0) {
        held |= kInputExtraButton2;
    }
    if ((modifiers & KMOD_SHIFT) != 0) {
        held |= kInputShift;
    }
    if ((modifiers & KMOD_CTRL) != 0) {
        held |= kInputControl;
    }
    return held;
}

InputKind ButtonKind(std::uint8_t button, bool down) {
    switch (button) {
        case SDL_BUTTON_LEFT:
            return down ? InputKind::LeftDown : InputKind::LeftUp;
        case SDL_BUTTON_RIGHT:
            return down ? InputKind::RightDown : InputKind::RightUp;
        case SDL_BUTTON_MIDDLE:
            return down ? InputKind::MiddleDown : InputKind::MiddleUp;
        default:
            return InputKind::Other;
    }
}

// The one place to ask whether the tool windows have the mouse or the
// keyboard. Their event handler, once they exist, runs before this and
// reports most events as handled, so only its want-capture flags may decide
// here: passing that result on would starve the camera.
bool InterfaceWantsInput() {
    return false;
}

void ApplyCapture(EngineContext& ctx, Scene& scene, UiState& ui, MouseCapture capture,
                  const InputEvent& cause) {
    if (capture == MouseCapture::Take) {
        SDL_CaptureMouse(SDL_TRUE);
    } else if (capture == MouseCapture::Release && cause.kind != InputKind::CaptureLost) {
        SDL_CaptureMouse(SDL_FALSE);
        // There is one capture for both drags: giving it up ends the other
        // drag too, as the loss of the capture would.
        InputEvent lost;
        lost.kind = InputKind::CaptureLost;
        HandleSceneInput(scene, ui, ctx.GetFrameSeconds(), lost, InterfaceWantsInput());
    }
}

}  // namespace

bool TranslateSdlEvent(const SDL_Event& event, std::uint32_t modifiers, CursorPosition windowOrigin,
                       InputEvent* out) {
    InputEvent e;
    switch (event.type) {
        case SDL_MOUSEMOTION:
            e.kind = InputKind::MouseMove;
            e.buttons = HeldButtons(event.motion.state, modifiers);
            e.cursor = {windowOrigin.x + event.motion.x, windowOrigin.y + event.motion.y};
            break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP:
            e.kind = ButtonKind(event.button.button, event.type == SDL_MOUSEBUTTONDOWN);
            e.cursor = {windowOrigin.x + event.button.x, windowOrigin.y + event.button.y};
            break;
        case SDL_MOUSEWHEEL: {
            // Horizontal scrolling has no vertical part: it is no zoom step.
            const std::int32_t delta =
                event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -event.wheel.y : event.wheel.y;
            if (delta == 0) {
                return false;
            }
            e.kind = InputKind::Wheel;
            e.wheelDelta = delta;
            break;
        }
        case SDL_KEYDOWN:
            e.kind = InputKind::KeyDown;
            e.key = event.key.keysym.sym == SDLK_F1 ? InputKey::F1 : InputKey::Other;
            break;
        case SDL_WINDOWEVENT:
            // The window no longer gets the mouse's button releases.
            if (event.window.event != SDL_WINDOWEVENT_FOCUS_LOST) {
                return false;
            }
            e.kind = InputKind::CaptureLost;
            break;
        default:
            return false;
    }
    if (e.kind == InputKind::Other) {
        return false;
    }
    *out = e;
    return true;
}

void InstallInputHook(EngineContext& ctx, Scene& scene, UiState& ui) {
    Scene* scenePtr = &scene;
    UiState* uiPtr = &ui;
    ctx.Locked([&](EngineState& s) {
        s.messageHook = [scenePtr, uiPtr](EngineContext& c, const SDL_Event& event) {
            CursorPosition origin;
            if (SDL_Window* window = c.GetWindow(); window != nullptr) {
                SDL_GetWindowPosition(window, &origin.x, &origin.y);
            }
            InputEvent input;
            if (!TranslateSdlEvent(event, SDL_GetModState(), origin, &input)) {
                return false;
            }
            const MouseCapture capture = HandleSceneInput(*scenePtr, *uiPtr, c.GetFrameSeconds(),
                                                          input, InterfaceWantsInput());
            ApplyCapture(c, *scenePtr, *uiPtr, capture, input);
            return false;  // the window still sees every event
        };
    });
}
