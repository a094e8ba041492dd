// How window events reach the player: tool windows first, then camera, model and dropped files.
#pragma once

#include <SDL.h>

#include <cstdint>

#include "core/engine_context.h"
#include "scene/camera_input.h"

namespace qv {

struct Scene;
struct UiState;
class FileDrop;
class PlayerInterface;

// Reduces an SDL event to what the scene input looks at. `modifiers` is SDL's
// modifier state, `windowOrigin` the screen position of the window's client
// area (mouse events carry window positions, the drags use screen ones).
// False for events the scene input ignores.
bool TranslateSdlEvent(const SDL_Event& event, std::uint32_t modifiers, CursorPosition windowOrigin,
                       InputEvent* out);

// Makes the window's events reach the tool windows first, then drive the
// camera, the model rotation and the F1 key while the tool windows do not
// want the input; dropped files go to `drop`. The interface and the drop may
// be null; everything given must outlive the engine's window.
void InstallInputHook(EngineContext& ctx, Scene& scene, UiState& ui,
                      PlayerInterface* interface = nullptr, FileDrop* drop = nullptr);

// Feeds SDL's drop events to `drop`; false for any other event.
bool HandleDropEvent(const SDL_Event& event, FileDrop& drop);

}  // namespace qv
