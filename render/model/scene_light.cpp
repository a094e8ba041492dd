// Turns the light and camera into the constants every scene shader reads.
#include "render/model/scene_light.h"

#include "scene/camera.h"

namespace qv {

Matrix4 SceneLight::View() const {
    return LookAtLeftHanded(position, target, Vector4{0.0f, 1.0f, 0.0f, 0.0f});
}

Matrix4 SceneLight::Projection() const {
    if (projectionType == 1) {
        return OrthographicLeftHanded(width, height, nearPlane, farPlane);
    }
    return PerspectiveLeftHanded(fieldOfView, aspect, nearPlane, farPlane);
}

namespace {

// About one and a half texels of the default 64-unit map on 2048 texels:
// enough that a lit surface does not shadow itself, small beside a foot.
constexpr float kShadowBiasUnits = 0.05f;
// The fixed bias of a perspective light, whose depth is not linear.
constexpr float kPerspectiveShadowBias = 0.00005f;

}  // namespace

float ShadowDepthBias(const SceneLight& light) {
    const float range = light.farPlane - light.nearPlane;
    if (light.projectionType != 1 || !(range > 0.0f)) {
        return kPerspectiveShadowBias;
    }
    return kShadowBiasUnits / range;
}

SceneConstants BuildSceneConstants(const Matrix4& view, const Matrix4& projection,
                                   const Vector4& eye, const SceneLight& light, float elapsedTime) {
    SceneConstants c{};
    StoreTransposed(Matrix4{}, c.mModel);
    StoreTransposed(view, c.mView);
    StoreTransposed(projection, c.mProjection);
    StoreTransposed(Multiply(view, projection), c.mMVP);
    // w = 1 for points and 0 for the direction, so that differences with a
    // world position (w = 1) are plain 3-D vectors.
    const float cameraPos[4] = {eye.x, eye.y, eye.z, 1.0f};
    const float lightPos[4] = {light.position.x, light.position.y, light.position.z, 1.0f};
    const float lightDir[4] = {light.direction.x, light.direction.y, light.direction.z, 0.0f};
    const float lightColor[4] = {light.color.x * light.colorFactor,
                                 light.color.y * light.colorFactor,
                                 light.color.z * light.colorFactor, 1.0f};
    for (int i = 0; i < 4; ++i) {
        c.cameraPos[i] = cameraPos[i];
        c.lightPos[i] = lightPos[i];
        c.lightDir[i] = lightDir[i];
        c.lightColor[i] = lightColor[i];
    }
    StoreTransposed(light.View(), c.lightView);
    StoreTransposed(light.Projection(), c.lightProjection);
    c.elapsedTime = elapsedTime;
    c.shadowBias = ShadowDepthBias(light);
    c.viewportSize[0] = 1280.0f;
    c.viewportSize[1] = 720.0f;
    return c;
}

SceneConstants BuildShadowConstants(const SceneLight& light) {
    SceneConstants c{};
    const Matrix4 view = light.View();
    const Matrix4 projection = light.Projection();
    StoreTransposed(Matrix4{}, c.mModel);
    StoreTransposed(view, c.mView);
    StoreTransposed(projection, c.mProjection);
    StoreTransposed(Multiply(view, projection), c.mMVP);
    return c;
}

}  // namespace qv
