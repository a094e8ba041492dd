// Camera, light and self-shadow keys of a VMD motion, evaluated at a frame and applied to the
// scene.
#include "scene/camera_motion.h"

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

constexpr float kControlScale = 1.0f / 127.0f;
constexpr float kDegrees = 3.14159265f / 180.0f;

template <typename Key>
std::vector<Key> Sorted(std::vector<Key> keys) {
    std::stable_sort(keys.begin(), keys.end(),
                     [](const Key& a, const Key& b) { return a.frame < b.frame; });
    return keys;
}

// The segment holding frame: the last key at or before it, and the next one
// (equal to it past the last key; the first key before the first).
template <typename Key>
std::pair<std::size_t, std::size_t> Segment(std::span<const Key> keys, float frame) {
    const auto after = std::upper_bound(keys.begin(), keys.end(), frame, [](float f, const Key& k) {
        return f < static_cast<float>(k.frame);
    });
    if (after == keys.begin()) {
        return {0, 0};
    }
    const std::size_t i = static_cast<std::size_t>(after - keys.begin()) - 1;
    return {i, std::min(i + 1, keys.size() - 1)};
}

float Lerp(float a, float b, float t) {
    return a + (b - a) * t;
}

}  // namespace

std::vector<VmdCameraKey> SortedByFrame(std::vector<VmdCameraKey> keys) {
    return Sorted(std::move(keys));
}
std::vector<VmdLightKey> SortedByFrame(std::vector<VmdLightKey> keys) {
    return Sorted(std::move(keys));
}
std::vector<VmdShadowKey> SortedByFrame(std::vector<VmdShadowKey> keys) {
    return Sorted(std::move(keys));
}

float BezierEase(float x1, float y1, float x2, float y2, float fraction) {
    if (x1 == y1 && x2 == y2) {
        return fraction;  // the straight line
    }
    auto bezier = [](float p1, float p2, float u) {
        const float v = 1.0f - u;
        return 3.0f * v * v * u * p1 + 3.0f * v * u * u * p2 + u * u * u;
    };
    // x(u) rises monotonically for control points inside the unit square, so
    // bisection finds the u whose x is the fraction.
    float low = 0.0f, high = 1.0f, u = fraction;
    for (int i = 0; i < 24; ++i) {
        u = 0.5f * (low + high);
        if (bezier(x1, x2, u) < fraction) {
            low = u;
        } else {
            high = u;
        }
    }
    return bezier(y1, y2, u);
}

bool EvaluateCameraKeys(std::span<const VmdCameraKey> keys, float frame, CameraMotionPose* pose) {
    if (keys.empty()) {
        return false;
    }
    const auto [i, j] = Segment(keys, frame);
    const VmdCameraKey& a = keys[i];
    const VmdCameraKey& b = keys[j];
    float t = 0.0f;
    // A later key one frame on is a cut: the earlier key holds to it.
    if (j != i && b.frame > a.frame + 1 && frame > static_cast<float>(a.frame)) {
        t = std::clamp(
            (frame - static_cast<float>(a.frame)) / static_cast<float>(b.frame - a.frame), 0.0f,
            1.0f);
    }
    auto ease = [&](int curve) {
        const std::uint8_t* c = b.interpolation.data() + 4 * curve;
        return BezierEase(c[0] * kControlScale, c[2] * kControlScale, c[1] * kControlScale,
                          c[3] * kControlScale, t);
    };
    const float tx = ease(0), ty = ease(1), tz = ease(2), tr = ease(3), td = ease(4), tv = ease(5);
    pose->target = {Lerp(a.position.x, b.position.x, tx), Lerp(a.position.y, b.position.y, ty),
                    Lerp(a.position.z, b.position.z, tz), 1.0f};
    pose->rotation = {Lerp(a.rotation.x, b.rotation.x, tr), Lerp(a.rotation.y, b.rotation.y, tr),
                      Lerp(a.rotation.z, b.rotation.z, tr), 0.0f};
    pose->distance = Lerp(a.distance, b.distance, td);
    const float degrees =
        Lerp(static_cast<float>(a.viewAngle), static_cast<float>(b.viewAngle), tv);
    pose->fovY = std::clamp(degrees, 1.0f, 179.0f) * kDegrees;
    // The file's flag is 0 for a perspective view.
    pose->perspective = (t < 1.0f ? a.perspective : b.perspective) == 0;
    return true;
}

bool EvaluateLightKeys(std::span<const VmdLightKey> keys, float frame, Vector4* color,
                       Vector4* direction) {
    if (keys.empty()) {
        return false;
    }
    const auto [i, j] = Segment(keys, frame);
    const VmdLightKey& a = keys[i];
    const VmdLightKey& b = keys[j];
    float t = 0.0f;
    if (j != i && frame > static_cast<float>(a.frame)) {
        t = std::clamp(
            (frame - static_cast<float>(a.frame)) / static_cast<float>(b.frame - a.frame), 0.0f,
            1.0f);
    }
    *color = {Lerp(a.color.x, b.color.x, t), Lerp(a.color.y, b.color.y, t),
              Lerp(a.color.z, b.color.z, t), 1.0f};
    Vector4 d{Lerp(a.direction.x, b.direction.x, t), Lerp(a.direction.y, b.direction.y, t),
              Lerp(a.direction.z, b.direction.z, t), 0.0f};
    const float length = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    *direction = length > 0.0f ? Vector4{d.x / length, d.y / length, d.z / length, 0.0f}
                               : Vector4{0.0f, -1.0f, 0.0f, 0.0f};
    return true;
}

bool EvaluateShadowKeys(std::span<const VmdShadowKey> keys, float frame, VmdShadowKey* key) {
    if (keys.empty()) {
        return false;
    }
    *key = keys[Segment(keys, frame).first];
    return true;
}

void ApplyCameraPose(Camera& camera, const CameraMotionPose& pose) {
    // Pitch first, then yaw, about the target; roll turns the up vector about
    // the view axis.
    const Quaternion pitch = EulerToQuaternion(pose.rotation.x, 0.0f, 0.0f);
    const Quaternion yaw = EulerToQuaternion(0.0f, pose.rotation.y, 0.0f);
    const Quaternion roll = EulerToQuaternion(0.0f, 0.0f, pose.rotation.z);
    const Quaternion turn = Multiply(yaw, Multiply(pitch, roll));
    const Vector4 offset = Rotate({0.0f, 0.0f, pose.distance, 0.0f}, turn);
    const Vector4 up = Rotate({0.0f, 1.0f, 0.0f, 0.0f}, turn);
    camera.target = {pose.target.x, pose.target.y, pose.target.z, 0.0f};
    camera.eye = Add3(camera.target, offset);
    camera.view = LookAtLeftHanded(camera.eye, camera.target, up);
    const float aspect = camera.viewportHeight == 0 ? 1.0f
                                                    : static_cast<float>(camera.viewportWidth) /
                                                          static_cast<float>(camera.viewportHeight);
    if (pose.perspective) {
        camera.projection = PerspectiveLeftHanded(pose.fovY, aspect, camera.nearZ, camera.farZ);
    } else {
        // Without perspective the view angle sets the width of the view at
        // the target's distance.
        const float height = 2.0f * std::abs(pose.distance) * std::tan(0.5f * pose.fovY);
        camera.projection = OrthographicLeftHanded(height * aspect, std::max(height, 1e-3f),
                                                   camera.nearZ, camera.farZ);
    }
}

}  // namespace qv
