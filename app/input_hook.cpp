// Window events pass to the tool windows first; what they leave moves the camera and model.
#include "app/input_hook.h"

#include "app/file_drop.h"
#include "app/player_interface.h"
#include "scene/playback_keys.h"
#include "scene/scene.h"

namespace qv {

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

InputKey KeyOf(SDL_Keycode key) {
    switch (key) {
        case SDLK_F1:
            return InputKey::F1;
        case SDLK_SPACE:
            return InputKey::Space;
        case SDLK_HOME:
            return InputKey::Home;
        case SDLK_LEFT:
            return InputKey::Left;
        case SDLK_RIGHT:
            return InputKey::Right;
        case SDLK_l:
            return InputKey::L;
        case SDLK_r:
            return InputKey::R;
        default:
            return InputKey::Other;
    }
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
// keyboard. Their event handler runs before this and reports most events as
// handled, so only its want-capture flags may decide here: passing that
// result on would starve the camera.
bool InterfaceWantsInput(const PlayerInterface* interface) {
    return interface != nullptr && interface->WantsInput();
}

void ApplyCapture(EngineContext& ctx, Scene& scene, UiState& ui, MouseCapture capture,
                  const InputEvent& cause, bool interfaceWantsInput) {
    if (capture == MouseCapture::Take) {
        SDL_CaptureMouse(SDL_TRUE);
    } else if (capture == MouseCapture::Release && cause.kind != InputKind::CaptureLost) {
        SDL_CaptureMouse(SDL_FALSE);
        // There is one capture for both drags: giving it up ends the other
        // drag too, as the loss of the capture would.
        InputEvent lost;
        lost.kind = InputKind::CaptureLost;
        HandleSceneInput(scene, ui, ctx.GetFrameSeconds(), lost, interfaceWantsInput);
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
            e.key = KeyOf(event.key.keysym.sym);
            e.buttons = HeldButtons(0, modifiers);
            e.repeat = event.key.repeat != 0;
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

bool HandleDropEvent(const SDL_Event& event, FileDrop& drop) {
    switch (event.type) {
        case SDL_DROPBEGIN:
            drop.Begin();
            return true;
        case SDL_DROPFILE:
            if (event.drop.file != nullptr) {
                drop.Add(event.drop.file);
            }
            return true;
        case SDL_DROPCOMPLETE:
            drop.Complete();
            return true;
        default:
            return false;
    }
}

void InstallInputHook(EngineContext& ctx, Scene& scene, UiState& ui, PlayerInterface* interface,
                      FileDrop* drop) {
    Scene* scenePtr = &scene;
    UiState* uiPtr = &ui;
    ctx.Locked([&](EngineState& s) {
        s.messageHook = [scenePtr, uiPtr, interface, drop](EngineContext& c,
                                                           const SDL_Event& event) {
            if (interface != nullptr) {
                interface->ProcessEvent(event);
            }
            if (drop != nullptr && HandleDropEvent(event, *drop)) {
                return false;
            }
            CursorPosition origin;
            if (SDL_Window* window = c.GetWindow(); window != nullptr) {
                SDL_GetWindowPosition(window, &origin.x, &origin.y);
            }
            InputEvent input;
            if (!TranslateSdlEvent(event, SDL_GetModState(), origin, &input)) {
                return false;
            }
            // Playback keys count over the tool windows too, but never while
            // a text field types or the file browser is open.
            HandlePlaybackKeys(*scenePtr, *uiPtr, input,
                               interface != nullptr && interface->WantsKeyboard());
            const bool wanted = InterfaceWantsInput(interface);
            const MouseCapture capture =
                HandleSceneInput(*scenePtr, *uiPtr, c.GetFrameSeconds(), input, wanted);
            ApplyCapture(c, *scenePtr, *uiPtr, capture, input, wanted);
            return false;  // the window still sees every event
        };
    });
}

}  // namespace qv
