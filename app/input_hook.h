#pragma once

#include <SDL.h>

#include <cstdint>

#include "core/engine_context.h"
#include "scene/camera_input.h"

struct Scene;
struct UiState;

// Reduces an SDL event to what the scene input looks at. `modifiers` is SDL's
// modifier state, `windowOrigin` the screen position of the window's client
// area (mouse events carry window positions, the drags use screen ones).
// False for events the scene input ignores.
bool TranslateSdlEvent(const SDL_Event& event, std::uint32_t modifiers, CursorPosition windowOrigin,
                       InputEvent* out);

// Makes the window's events drive the camera, the model rotation and the
// F1 key. The scene and the interface state must outlive the engine's window.
void InstallInputHook(EngineContext& ctx, Scene& scene, UiState& ui);
