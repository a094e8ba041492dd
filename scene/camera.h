// The orbit camera the mouse drives, kept as a few angles from which all else follows.
#pragma once

#include <cstdint>

#include "runtime/pose_math.h"

namespace qv {

// A cursor position in screen pixels, y growing downwards.
struct CursorPosition {
    std::int32_t x = 0, y = 0;
    friend bool operator==(const CursorPosition&, const CursorPosition&) = default;
};

// The orbit camera the mouse drives. The angles, zoom and pan are the state;
// eye, target, view and projection follow from them through UpdateCamera,
// which the constructor runs once so that a fresh camera is usable as is.
// Left-handed: x right, y up, z into the screen.
struct Camera {
    Camera();

    float maxZoom = 19.0f;
    // About ±89 degrees: the view never looks straight along the up vector.
    float minPitch = -1.5533430f;
    float maxPitch = 1.5533430f;
    float fovY = 1.0471976f;  // 60 degrees
    float nearZ = 1.0f;
    float farZ = 15000.0f;
    std::uint32_t viewportWidth = 1280;
    std::uint32_t viewportHeight = 720;
    Vector4 baseEye{0.0f, 10.0f, -20.0f, 0.0f};
    Vector4 baseTarget{0.0f, 10.0f, 0.0f, 0.0f};
    Vector4 up{0.0f, 1.0f, 0.0f, 0.0f};
    std::uint32_t dragging = 0;  // 1 while a right or middle drag runs
    CursorPosition lastCursor;
    float pitch = 0.0f, yaw = 0.0f, roll = 0.0f;
    float zoom = 0.0f;  // taken off the base eye distance
    Vector4 pan;        // camera space; x and y used
    Vector4 eye, target;
    Matrix4 view, projection;  // row-vector form
};

// Recomputes eye, target, view and projection from the camera's state.
void UpdateCamera(Camera& camera);

// A new render size for the projection's aspect ratio. A size with a zero
// side leaves the camera as it is.
void SetCameraViewport(Camera& camera, std::uint32_t width, std::uint32_t height);

// Left-handed view and projections as row-vector matrices, depth 0 at the
// near plane and 1 at the far one.
Matrix4 LookAtLeftHanded(const Vector4& eye, const Vector4& target, const Vector4& up);
Matrix4 PerspectiveLeftHanded(float fovY, float aspect, float nearZ, float farZ);
Matrix4 OrthographicLeftHanded(float width, float height, float nearZ, float farZ);

}  // namespace qv
