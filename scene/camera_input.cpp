// Mouse drags and the wheel turned into orbit, pan, zoom and model turns.
#include "scene/camera_input.h"

#include <cmath>
#include <numbers>

#include "scene/scene.h"

namespace qv {

namespace {

constexpr float kPanPerPixel = 0.02f;
constexpr float kZoomStep = 0.5f;
constexpr float kModelDegreesPerPixel = 0.3f;

MouseCapture Stronger(MouseCapture a, MouseCapture b) {
    if (a == MouseCapture::Release || b == MouseCapture::Release) {
        return MouseCapture::Release;
    }
    return a == MouseCapture::Take || b == MouseCapture::Take ? MouseCapture::Take
                                                              : MouseCapture::Keep;
}

void DragCamera(Camera& camera, float frameSeconds, const InputEvent& event) {
    const float dx = static_cast<float>(event.cursor.x - camera.lastCursor.x);
    const float dy = static_cast<float>(event.cursor.y - camera.lastCursor.y);
    if (event.buttons == kInputMiddleButton) {
        camera.pan.x -= dx * kPanPerPixel;
        camera.pan.y += dy * kPanPerPixel;
        UpdateCamera(camera);
    } else if (event.buttons == kInputRightButton) {
        camera.yaw += frameSeconds * dx;
        // The view must never look along the up vector: a step that would
        // leave the limits is dropped whole.
        const float pitch = camera.pitch + frameSeconds * dy;
        if (pitch >= camera.minPitch && pitch <= camera.maxPitch) {
            camera.pitch = pitch;
        }
        UpdateCamera(camera);
    }
    // With both buttons (or a modifier) held nothing moves, but the next
    // single-button step must not jump by what happened meanwhile.
    camera.lastCursor = event.cursor;
}

void Zoom(Camera& camera, std::int32_t delta) {
    if (delta > 0) {
        // Any forward turn counts as one step, however far the wheel went.
        if (camera.zoom < camera.maxZoom) {
            camera.zoom += kZoomStep;
            UpdateCamera(camera);
        }
    } else if (delta < 0) {
        camera.zoom -= kZoomStep;
        UpdateCamera(camera);
    }
}

void TurnModels(Scene& scene, std::int32_t dx) {
    const float radiansPerDegree = std::numbers::pi_v<float> / 180.0f;
    for (ModelRecord& record : scene.models) {
        ModelUiEntry& row = record.entry;
        row.yRotationAngle -= static_cast<float>(dx) * kModelDegreesPerPixel;
        if (!row.selected || row.yRotationBone < 0) {
            continue;
        }
        std::vector<BoneState>& bones = record.instance->bones;
        if (static_cast<std::size_t>(row.yRotationBone) >= bones.size()) {
            continue;
        }
        const float half = row.yRotationAngle * radiansPerDegree * 0.5f;
        bones[row.yRotationBone].rotation = {0.0f, std::sin(half), 0.0f, std::cos(half)};
    }
}

}  // namespace

MouseCapture HandleCameraInput(Camera& camera, float frameSeconds, const InputEvent& event) {
    switch (event.kind) {
        case InputKind::RightDown:
        case InputKind::MiddleDown:
            camera.lastCursor = event.cursor;
            camera.dragging = 1;
            return MouseCapture::Take;
        case InputKind::MouseMove:
            if (camera.dragging != 0) {
                DragCamera(camera, frameSeconds, event);
            }
            return MouseCapture::Keep;
        case InputKind::RightUp:
        case InputKind::MiddleUp:
        case InputKind::CaptureLost:
            if (camera.dragging != 0) {
                camera.dragging = 0;
                return MouseCapture::Release;
            }
            return MouseCapture::Keep;
        case InputKind::Wheel:
            Zoom(camera, event.wheelDelta);
            return MouseCapture::Keep;
        default:
            return MouseCapture::Keep;
    }
}

MouseCapture HandleModelRotation(Scene& scene, const InputEvent& event) {
    switch (event.kind) {
        case InputKind::LeftDown:
            scene.stage.leftDragCursor = event.cursor;
            scene.stage.leftDragging = true;
            return MouseCapture::Take;
        case InputKind::MouseMove:
            if (!scene.stage.leftDragging) {
                return MouseCapture::Keep;
            }
            if (event.buttons == kInputLeftButton) {
                TurnModels(scene, event.cursor.x - scene.stage.leftDragCursor.x);
            }
            scene.stage.leftDragCursor = event.cursor;
            return MouseCapture::Keep;
        case InputKind::LeftUp:
        case InputKind::CaptureLost:
            if (scene.stage.leftDragging) {
                scene.stage.leftDragging = false;
                return MouseCapture::Release;
            }
            return MouseCapture::Keep;
        default:
            return MouseCapture::Keep;
    }
}

void HandleKeys(UiState& ui, const InputEvent& event) {
    if (event.kind == InputKind::KeyDown && event.key == InputKey::F1) {
        ui.showNavigator = !ui.showNavigator;
    }
}

MouseCapture HandleSceneInput(Scene& scene, UiState& ui, float frameSeconds,
                              const InputEvent& event, bool interfaceWantsInput) {
    if (interfaceWantsInput) {
        return MouseCapture::Keep;
    }
    // A camera motion holds the camera while it plays: the mouse would only
    // fight it.
    const MouseCapture camera = scene.stage.cameraDrivenByMotion
                                    ? MouseCapture::Keep
                                    : HandleCameraInput(scene.stage.camera, frameSeconds, event);
    const MouseCapture model = HandleModelRotation(scene, event);
    HandleKeys(ui, event);
    return Stronger(camera, model);
}

}  // namespace qv
