// Derives the camera's eye, view and projection from its angles, zoom and pan.
#include "scene/camera.h"

#include <cmath>

namespace qv {

namespace {

Vector4 Normalize3(const Vector4& v) {
    const float length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return length > 0.0f ? Vector4{v.x / length, v.y / length, v.z / length, 0.0f} : v;
}

Vector4 Cross3(const Vector4& a, const Vector4& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x, 0.0f};
}

float Dot3(const Vector4& a, const Vector4& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

}  // namespace

Camera::Camera() {
    UpdateCamera(*this);
}

void UpdateCamera(Camera& camera) {
    // Roll about z first, then pitch about x, then yaw about y.
    const Quaternion q = EulerToQuaternion(camera.pitch, camera.yaw, camera.roll);
    const Vector4 panWorld = Rotate(Vector4{camera.pan.x, camera.pan.y, camera.pan.z, 0.0f}, q);
    Vector4 offset = Subtract3(camera.baseEye, camera.baseTarget);
    offset.z += camera.zoom;
    camera.target = Add3(camera.baseTarget, panWorld);
    camera.eye = Add3(camera.target, Rotate(offset, q));
    camera.view = LookAtLeftHanded(camera.eye, camera.target, camera.up);
    const float aspect =
        static_cast<float>(camera.viewportWidth) / static_cast<float>(camera.viewportHeight);
    camera.projection = PerspectiveLeftHanded(camera.fovY, aspect, camera.nearZ, camera.farZ);
}

void SetCameraViewport(Camera& camera, std::uint32_t width, std::uint32_t height) {
    if (width == 0 || height == 0) {
        return;
    }
    camera.viewportWidth = width;
    camera.viewportHeight = height;
    UpdateCamera(camera);
}

Matrix4 LookAtLeftHanded(const Vector4& eye, const Vector4& target, const Vector4& up) {
    const Vector4 z = Normalize3(Subtract3(target, eye));
    const Vector4 x = Normalize3(Cross3(up, z));
    const Vector4 y = Cross3(z, x);
    Matrix4 m;
    const Vector4 axes[3] = {x, y, z};
    for (int c = 0; c < 3; ++c) {
        m.m[0][c] = axes[c].x;
        m.m[1][c] = axes[c].y;
        m.m[2][c] = axes[c].z;
        m.m[3][c] = -Dot3(axes[c], eye);
    }
    return m;
}

Matrix4 PerspectiveLeftHanded(float fovY, float aspect, float nearZ, float farZ) {
    const float h = 1.0f / std::tan(fovY * 0.5f);
    const float range = farZ / (farZ - nearZ);
    Matrix4 m;
    m.m[0][0] = h / aspect;
    m.m[1][1] = h;
    m.m[2][2] = range;
    m.m[2][3] = 1.0f;
    m.m[3][2] = -range * nearZ;
    m.m[3][3] = 0.0f;
    return m;
}

Matrix4 OrthographicLeftHanded(float width, float height, float nearZ, float farZ) {
    Matrix4 m;
    m.m[0][0] = 2.0f / width;
    m.m[1][1] = 2.0f / height;
    m.m[2][2] = 1.0f / (farZ - nearZ);
    m.m[3][2] = -nearZ / (farZ - nearZ);
    return m;
}

}  // namespace qv
