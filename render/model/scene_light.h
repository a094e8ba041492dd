// The scene's one fixed light and the per-frame constants the shaders see.
#pragma once

#include "render/model/model_resources.h"
#include "runtime/pose_math.h"

namespace qv {

// The scene's one light, fixed for the program's life: an orthographic light
// volume 64 x 64 units wide looking from above and in front of the stage.
struct SceneLight {
    std::uint32_t projectionType = 1;  // 1 orthographic, else perspective
    Vector4 position{20.0f, 40.0f, -20.0f, 1.0f};
    Vector4 target{0.0f, 0.0f, 0.0f, 1.0f};
    Vector4 direction{-0.41f, -0.82f, 0.41f, 0.0f};
    Vector4 color{0.6039216f, 0.6039216f, 0.6039216f, 1.0f};
    float colorFactor = 1.0f;
    float nearPlane = 1.0f;
    float farPlane = 15000.0f;
    float width = 64.0f;
    float height = 64.0f;
    float fieldOfView = 1.0471976f;
    float aspect = 1.7777778f;

    Matrix4 View() const;
    Matrix4 Projection() const;
};

// How much nearer than a receiver the shadow map's stored depth must be for
// the receiver to count as shadowed, in the map's depth units: a fixed
// distance along the light, so that the far plane's distance does not lift
// shadows off the feet that cast them.
float ShadowDepthBias(const SceneLight& light);

// The scene constants every model shares in a frame (mModel is identity),
// from the camera's row-vector view and projection and its eye.
SceneConstants BuildSceneConstants(const Matrix4& view, const Matrix4& projection,
                                   const Vector4& eye, const SceneLight& light, float elapsedTime);

// What the shadow pass draws with: the light's view and projection in place
// of the camera's, so the models are drawn in light space.
SceneConstants BuildShadowConstants(const SceneLight& light);

}  // namespace qv
