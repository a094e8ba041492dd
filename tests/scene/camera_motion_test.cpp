// Camera, light and self-shadow keys: evaluation, cuts, and the scene playing them.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "scene/camera_motion.h"
#include "scene/scene.h"

namespace qv {

namespace {

VmdCameraKey CameraKey(std::uint32_t frame, Float3 target, float distance, std::uint32_t angle,
                       Float3 rotation = {}) {
    VmdCameraKey k;
    k.frame = frame;
    k.position = target;
    k.distance = distance;
    k.viewAngle = angle;
    k.rotation = rotation;
    for (int c = 0; c < 6; ++c) {  // straight lines: x1 = y1, x2 = y2
        k.interpolation[4 * c + 0] = k.interpolation[4 * c + 2] = 20;
        k.interpolation[4 * c + 1] = k.interpolation[4 * c + 3] = 107;
    }
    return k;
}

float Bezier(float p1, float p2, float u) {
    return 3 * (1 - u) * (1 - u) * u * p1 + 3 * (1 - u) * u * u * p2 + u * u * u;
}

}  // namespace

TEST(CameraMotion, KeysHoldAtTheirFramesAndLinesRunStraight) {
    const std::vector<VmdCameraKey> keys =
        SortedByFrame({CameraKey(30, {3, 20, 6}, -30, 40, {0.3f, 0.6f, 0.9f}),
                       CameraKey(0, {0, 10, 0}, -50, 30)});
    CameraMotionPose pose;
    ASSERT_TRUE(EvaluateCameraKeys(keys, 0, &pose));
    EXPECT_FLOAT_EQ(pose.target.y, 10);
    EXPECT_FLOAT_EQ(pose.distance, -50);
    EXPECT_NEAR(pose.fovY, 30 * 3.14159265f / 180, 1e-6f);
    EXPECT_TRUE(pose.perspective);
    ASSERT_TRUE(EvaluateCameraKeys(keys, 15, &pose));
    EXPECT_NEAR(pose.target.y, 15, 1e-4f);
    EXPECT_NEAR(pose.distance, -40, 1e-4f);
    ASSERT_TRUE(EvaluateCameraKeys(keys, 10, &pose));  // a third of the way, each value its own
    EXPECT_NEAR(pose.target.x, 1.0f, 1e-4f);
    EXPECT_NEAR(pose.target.z, 2.0f, 1e-4f);
    EXPECT_NEAR(pose.rotation.x, 0.1f, 1e-4f);
    EXPECT_NEAR(pose.rotation.y, 0.2f, 1e-4f);
    EXPECT_NEAR(pose.rotation.z, 0.3f, 1e-4f);
    ASSERT_TRUE(EvaluateCameraKeys(keys, 30, &pose));
    EXPECT_FLOAT_EQ(pose.target.y, 20);
    ASSERT_TRUE(EvaluateCameraKeys(keys, 99, &pose));  // the last key holds
    EXPECT_FLOAT_EQ(pose.distance, -30);
    // A view angle of 180 degrees or more would see nothing: held at 179.
    const std::vector<VmdCameraKey> wide = {CameraKey(0, {0, 0, 0}, -10, 180)};
    ASSERT_TRUE(EvaluateCameraKeys(wide, 0, &pose));
    EXPECT_NEAR(pose.fovY, 179 * 3.14159265f / 180, 1e-5f);
    // The file's flag 1 asks for no perspective; it holds from its own key on.
    std::vector<VmdCameraKey> flat = keys;
    flat[1].perspective = 1;
    ASSERT_TRUE(EvaluateCameraKeys(flat, 15, &pose));
    EXPECT_TRUE(pose.perspective);
    ASSERT_TRUE(EvaluateCameraKeys(flat, 30, &pose));
    EXPECT_FALSE(pose.perspective);
    EXPECT_FALSE(EvaluateCameraKeys({}, 0, &pose));
    // Keys of one frame keep the file's order: the later one is the shot from there on.
    const std::vector<VmdCameraKey> twice =
        SortedByFrame({CameraKey(10, {0, 1, 0}, -10, 30), CameraKey(0, {0, 0, 0}, -10, 30),
                       CameraKey(10, {0, 2, 0}, -10, 30)});
    ASSERT_TRUE(EvaluateCameraKeys(twice, 10, &pose));
    EXPECT_FLOAT_EQ(pose.target.y, 2);
    EXPECT_FLOAT_EQ(twice[1].position.y, 1);
}

// Each value has its own curve, the later key's: time through x, value through y.
TEST(CameraMotion, AsymmetricCurvesEaseEachValueOnItsOwn) {
    VmdCameraKey from = CameraKey(10, {0, 0, 0}, -10, 30);
    VmdCameraKey to = CameraKey(20, {10, 10, 10}, -20, 60, {0.6f, 0.6f, 0.6f});
    // Target X: x1 = 127, x2 = 127, y1 = 0, y2 = 0 (slow, then all at once);
    // target Z and distance: x1 = 0, y1 = 127, x2 = 0, y2 = 127 (all at once, then hold).
    to.interpolation[0] = 127, to.interpolation[1] = 127, to.interpolation[2] = 0,
    to.interpolation[3] = 0;
    for (const int curve : {2, 4}) {
        to.interpolation[4 * curve] = 0, to.interpolation[4 * curve + 1] = 0,
                             to.interpolation[4 * curve + 2] = 127,
                             to.interpolation[4 * curve + 3] = 127;
    }
    const std::vector<VmdCameraKey> keys = {from, to};
    CameraMotionPose pose;
    ASSERT_TRUE(EvaluateCameraKeys(keys, 15, &pose));  // halfway between keys that start late
    // x(u) = 3u(1-u)^2 + 3u^2(1-u) + u^3 with both x controls 1 is 1/2 at the
    // u solving 3u - 3u^2 + u^3 = 1/2; y with both controls 0 is u^3 there.
    float u = 0.5f;
    for (int i = 0; i < 60; ++i) {
        const float x = Bezier(1, 1, u);
        u -= (x - 0.5f) / (3 - 6 * u + 3 * u * u + 1e-6f);
    }
    EXPECT_NEAR(pose.target.x, 10 * u * u * u, 1e-3f);
    EXPECT_NEAR(pose.target.y, 5, 1e-3f);       // Y stays a straight line
    EXPECT_NEAR(pose.rotation.x, 0.3f, 1e-4f);  // as does the rotation, on its own curve
    const float v = std::cbrt(0.5f);            // distance: x controls 0, so x(v) = v^3 = 1/2
    EXPECT_NEAR(pose.distance, -10 - 10 * Bezier(1, 1, v), 1e-3f);
    EXPECT_NEAR(pose.target.z, 10 * Bezier(1, 1, v), 1e-3f);
    EXPECT_GT(pose.distance, -20.0f);
    EXPECT_NEAR(pose.fovY, 45 * 3.14159265f / 180, 1e-4f);  // the view angle's own straight line
    // A first control on the diagonal does not make the curve a line.
    float w = 0.5f;
    for (int i = 0; i < 60; ++i) {
        const float x = Bezier(0.2f, 1, w);
        const float slope = 3 * (1 - w) * (1 - w) * 0.2f + 6 * (1 - w) * w * (1 - 0.2f) +
                            3 * w * w * (1 - 1) + 1e-6f;
        w -= (x - 0.5f) / slope;
    }
    EXPECT_NEAR(BezierEase(0.2f, 0.2f, 1, 0, 0.5f), Bezier(0.2f, 0, w), 1e-3f);
    EXPECT_LT(BezierEase(0.2f, 0.2f, 1, 0, 0.5f), 0.45f);
    EXPECT_GT(BezierEase(0, 1, 0.6f, 0.6f, 0.5f), 0.55f);  // nor only its second
}

TEST(CameraMotion, KeysOneFrameApartCutWithoutInbetweens) {
    const std::vector<VmdCameraKey> keys = {CameraKey(0, {0, 0, 0}, -10, 30),
                                            CameraKey(20, {0, 5, 0}, -10, 30),
                                            CameraKey(21, {50, 0, 0}, -80, 45)};
    CameraMotionPose pose;
    ASSERT_TRUE(EvaluateCameraKeys(keys, 20.5f, &pose));
    EXPECT_FLOAT_EQ(pose.target.x, 0);  // still the shot before the cut
    EXPECT_FLOAT_EQ(pose.target.y, 5);
    ASSERT_TRUE(EvaluateCameraKeys(keys, 21, &pose));
    EXPECT_FLOAT_EQ(pose.target.x, 50);
    EXPECT_FLOAT_EQ(pose.distance, -80);
    ASSERT_TRUE(EvaluateCameraKeys(keys, 10, &pose));  // an ordinary segment
    EXPECT_NEAR(pose.target.y, 2.5f, 1e-4f);
}

TEST(CameraMotion, PosePlacesTheEyeAtDistanceFromTheTarget) {
    Camera camera;
    CameraMotionPose pose;
    pose.target = {0, 10, 0, 1};
    pose.distance = -45;
    pose.fovY = 0.5f;
    ApplyCameraPose(camera, pose);
    EXPECT_NEAR(camera.eye.z, -45, 1e-4f);
    EXPECT_NEAR(camera.eye.y, 10, 1e-4f);
    // In perspective the view angle spans the height at the target and the
    // window's shape the width; depth runs from the near plane to the far one.
    {
        const float half = 45.0f * std::tan(0.25f);
        const float aspect =
            static_cast<float>(camera.viewportWidth) / static_cast<float>(camera.viewportHeight);
        ASSERT_NE(aspect, 1.0f);
        const Matrix4 viewProjection = Multiply(camera.view, camera.projection);
        const Vector4 top = TransformPoint({0, 10 + half, 0, 1}, viewProjection);
        EXPECT_NEAR(top.y / top.w, 1.0f, 1e-4f);
        const Vector4 side = TransformPoint({half * aspect, 10, 0, 1}, viewProjection);
        EXPECT_NEAR(std::abs(side.x / side.w), 1.0f, 1e-4f);
        for (const auto& [depth, expected] : {std::pair{camera.nearZ, 0.0f}, {camera.farZ, 1.0f}}) {
            const Vector4 p = TransformPoint({0, 10, -45 + depth, 1}, viewProjection);
            EXPECT_NEAR(p.z / p.w, expected, 1e-4f) << depth;
        }
    }
    // A window one pixel high is as wide as any other; one with no height is square.
    for (const auto& [height, aspect] : {std::pair{1u, 400.0f}, {0u, 1.0f}}) {
        Camera flat;
        flat.viewportWidth = 400;
        flat.viewportHeight = height;
        ApplyCameraPose(flat, pose);
        EXPECT_NEAR(flat.projection.m[1][1] / flat.projection.m[0][0], aspect, 1e-2f) << height;
    }
    // Yawed a quarter turn, the eye swings round to the side at the same distance.
    pose.rotation = {0, 3.14159265f / 2, 0, 0};
    ApplyCameraPose(camera, pose);
    EXPECT_NEAR(std::hypot(camera.eye.x, camera.eye.z), 45, 1e-3f);
    EXPECT_NEAR(std::abs(camera.eye.x), 45, 1e-3f);
    // Yaw alone keeps the view upright: what is above the target shows above it.
    const Vector4 above = TransformPoint({0, 11, 0, 1}, Multiply(camera.view, camera.projection));
    EXPECT_NEAR(above.x / above.w, 0, 1e-4f);
    EXPECT_GT(above.y / above.w, 0);
    // The target projects to the centre of the view.
    const Vector4 t = TransformPoint({0, 10, 0, 1}, Multiply(camera.view, camera.projection));
    EXPECT_NEAR(t.x / t.w, 0, 1e-4f);
    EXPECT_NEAR(t.y / t.w, 0, 1e-4f);

    // Pitched, yawed and rolled at once: the view holds the eye at its origin,
    // the target straight ahead, and the turned up and right on its own axes.
    pose.rotation = {0.5f, -0.7f, 0.4f, 0};
    ApplyCameraPose(camera, pose);
    const Quaternion turn =
        Multiply(EulerToQuaternion(0, -0.7f, 0),
                 Multiply(EulerToQuaternion(0.5f, 0, 0), EulerToQuaternion(0, 0, 0.4f)));
    const Vector4 up = Rotate({0, 1, 0, 0}, turn);
    const Vector4 right = Rotate({1, 0, 0, 0}, turn);
    const auto inView = [&](const Vector4& p) { return TransformPoint(p, camera.view); };
    const Vector4 eye = inView(camera.eye);
    const Vector4 ahead = inView({0, 10, 0, 1});
    const Vector4 overhead = inView(Add3(camera.eye, up));
    const Vector4 aside = inView(Add3(camera.eye, right));
    for (const auto& [p, expected] :
         {std::pair{eye, Vector4{0, 0, 0, 1}}, std::pair{ahead, Vector4{0, 0, 45, 1}},
          std::pair{overhead, Vector4{0, 1, 0, 1}}, std::pair{aside, Vector4{1, 0, 0, 1}}}) {
        EXPECT_NEAR(p.x, expected.x, 1e-3f);
        EXPECT_NEAR(p.y, expected.y, 1e-3f);
        EXPECT_NEAR(p.z, expected.z, 1e-3f);
    }

    // Without perspective the view angle sets the view's height at the
    // target's distance, and nearer or farther points keep their place.
    pose.rotation = {};
    pose.perspective = false;
    ApplyCameraPose(camera, pose);
    const float halfHeight = 45 * std::tan(0.25f);
    const Matrix4 viewProjection = Multiply(camera.view, camera.projection);
    for (const float z : {-20.0f, 0.0f, 20.0f}) {
        const Vector4 top = TransformPoint({0, 10 + halfHeight, z, 1}, viewProjection);
        EXPECT_NEAR(top.y / top.w, 1.0f, 1e-4f) << z;
        const Vector4 side = TransformPoint({halfHeight, 10, z, 1}, viewProjection);
        EXPECT_NEAR(side.x / side.w, 720.0f / 1280.0f, 1e-4f) << z;
    }
    const Vector4 nearest = TransformPoint({0, 10, -45 + camera.nearZ, 1}, viewProjection);
    EXPECT_NEAR(nearest.z / nearest.w, 0.0f, 1e-4f);
    const Vector4 farthest = TransformPoint({0, 10, -45 + camera.farZ, 1}, viewProjection);
    EXPECT_NEAR(farthest.z / farthest.w, 1.0f, 1e-4f);
    {
        // A near plane far from the eye: depth alone takes its offset, not the height.
        Camera deep;
        deep.nearZ = 20.0f;
        deep.farZ = 60.0f;
        ApplyCameraPose(deep, pose);
        const Matrix4 deepViewProjection = Multiply(deep.view, deep.projection);
        for (const auto& [z, depth] : {std::pair{-25.0f, 0.0f}, {15.0f, 1.0f}}) {
            const Vector4 p = TransformPoint({0, 10, z, 1}, deepViewProjection);
            EXPECT_NEAR(p.z / p.w, depth, 1e-5f) << z;
            EXPECT_NEAR(p.y / p.w, 0.0f, 1e-5f) << z;
        }
    }
    pose.perspective = true;

    // A shot from the target itself (distance 0) has no direction to look in:
    // the view is degenerate but holds no NaN to blank the frame.
    pose.distance = 0;
    ApplyCameraPose(camera, pose);
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_TRUE(std::isfinite(camera.view.m[r][c])) << r << "," << c;
        }
    }
}

TEST(CameraMotion, LightAndShadowKeysFollowTheirKeys) {
    const std::vector<VmdLightKey> light = {{10, {1, 0, 0, 1}, {0, -2, 0}},
                                            {20, {0, 1, 0.5f, 1}, {3, 0, 1}}};
    Vector4 color, direction;
    ASSERT_TRUE(EvaluateLightKeys(light, 12, &color, &direction));
    EXPECT_NEAR(color.x, 0.8f, 1e-5f);
    EXPECT_NEAR(color.y, 0.2f, 1e-5f);
    EXPECT_NEAR(color.z, 0.1f, 1e-5f);
    // At a key's own frame, and before the first, the light is that key's.
    for (const float at : {5.0f, 10.0f}) {
        ASSERT_TRUE(EvaluateLightKeys(light, at, &color, &direction));
        EXPECT_EQ(color, (Vector4{1, 0, 0, 1})) << at;
    }
    // The direction runs straight between the keys' and is made a unit long.
    ASSERT_TRUE(EvaluateLightKeys(light, 12, &color, &direction));
    const float length = std::sqrt(0.6f * 0.6f + 1.6f * 1.6f + 0.2f * 0.2f);
    EXPECT_NEAR(direction.x, 0.6f / length, 1e-5f);
    EXPECT_NEAR(direction.y, -1.6f / length, 1e-5f);
    EXPECT_NEAR(direction.z, 0.2f / length, 1e-5f);
    // A key that points nowhere lights straight down.
    ASSERT_TRUE(EvaluateLightKeys(std::vector<VmdLightKey>{{0, {1, 1, 1, 1}, {0, 0, 0}}}, 0, &color,
                                  &direction));
    EXPECT_EQ(direction, (Vector4{0.0f, -1.0f, 0.0f, 0.0f}));
    const std::vector<VmdShadowKey> shadow = {{0, 1, 0.01f}, {10, 0, 0.0f}};
    VmdShadowKey key;
    ASSERT_TRUE(EvaluateShadowKeys(shadow, 9.9f, &key));
    EXPECT_EQ(key.mode, 1);
    ASSERT_TRUE(EvaluateShadowKeys(shadow, 10, &key));
    EXPECT_EQ(key.mode, 0);
}

// The scene: the chosen motion drives the camera while playing and paused;
// a stop gives the orbit camera back, where the user left it.
TEST(CameraMotion, TheSceneDrivesTheCameraWhilePlayingAndGivesItBackOnStop) {
    Scene scene;
    scene.motions.push_back({{}, "dance"});  // no camera keys
    VmdMotion camera;
    camera.cameraKeys = {CameraKey(0, {0, 10, 0}, -10, 30), CameraKey(60, {0, 10, 0}, -70, 30)};
    camera.lightKeys = {{0, {0.2f, 0.4f, 0.6f, 1}, {1, 0, 0}}};
    camera.shadowKeys = {{0, 1, 0.01f}};
    EXPECT_EQ(PickCameraMotion(scene), -1);  // none with camera keys yet
    scene.motions.push_back({camera, "camera"});
    EXPECT_EQ(PickCameraMotion(scene), 1);
    {
        Scene first;  // the first motion counts too
        first.motions.push_back({camera, "camera"});
        EXPECT_EQ(PickCameraMotion(first), 0);
    }
    scene.stage.cameraMotion = PickCameraMotion(scene);
    const Vector4 orbitEye = scene.stage.camera.eye;

    UpdateStageMotion(scene);  // stopped: nothing moves
    EXPECT_FALSE(scene.stage.cameraDrivenByMotion);
    PressPlay(scene);
    UiState ui;
    ModelSettingState modelSetting;
    UpdateScene(scene, ui, modelSetting, 1.0f);  // 1 s played: frame 30, half way
    EXPECT_TRUE(scene.stage.cameraDrivenByMotion);
    EXPECT_NEAR(scene.stage.camera.eye.z, -40, 1e-3f);
    EXPECT_TRUE(scene.stage.motionLightActive);
    EXPECT_TRUE(scene.stage.motionShadowActive);
    EXPECT_EQ(scene.stage.motionShadowMode, 1);
    EXPECT_FLOAT_EQ(scene.stage.motionShadowDistance, 0.01f);
    EXPECT_FLOAT_EQ(scene.stage.motionLightColor.y, 0.4f);
    PressPlay(scene);  // paused: the camera stays with the motion
    UpdateStageMotion(scene);
    EXPECT_NEAR(scene.stage.camera.eye.z, -40, 1e-3f);
    // "None" chosen while paused gives the camera back at once.
    scene.stage.cameraMotion = -1;
    UpdateStageMotion(scene);
    EXPECT_FALSE(scene.stage.cameraDrivenByMotion);
    EXPECT_EQ(scene.stage.camera.eye, orbitEye);
    scene.stage.cameraMotion = 1;
    UpdateStageMotion(scene);
    EXPECT_TRUE(scene.stage.cameraDrivenByMotion);
    StopAndReset(scene);
    UpdateStageMotion(scene);
    EXPECT_FALSE(scene.stage.cameraDrivenByMotion);
    EXPECT_FALSE(scene.stage.motionLightActive);
    EXPECT_FALSE(scene.stage.motionShadowActive);
    EXPECT_EQ(scene.stage.camera.eye, orbitEye);
    EXPECT_EQ(scene.stage.stageMotionTime, 0.0f);

    // Another camera motion chosen in the update that deletes the one shown
    // is read afresh, not from what was kept of the deleted one.
    scene.motions[0].motion.cameraKeys = {CameraKey(0, {0, 5, 0}, -10, 30)};
    PressPlay(scene);
    UpdateScene(scene, ui, modelSetting, 0.1f);
    EXPECT_NEAR(scene.stage.camera.target.y, 10, 1e-3f);
    ui.requests.push_back({RequestKind::DeleteMotion, 1});
    ui.requests.push_back({RequestKind::ChooseCameraMotion, 0});
    UpdateScene(scene, ui, modelSetting, 0.1f);
    EXPECT_EQ(scene.stage.cameraMotion, 0);
    EXPECT_NEAR(scene.stage.camera.target.y, 5, 1e-3f);
    // Likewise after a frame with no camera motion at all.
    scene.motions.push_back({camera, "camera"});
    ui.requests.push_back({RequestKind::ChooseCameraMotion, 1});
    UpdateScene(scene, ui, modelSetting, 0.1f);
    EXPECT_NEAR(scene.stage.camera.target.y, 10, 1e-3f);
    ui.requests.push_back({RequestKind::ChooseCameraMotion, -1});
    UpdateScene(scene, ui, modelSetting, 0.1f);
    ui.requests.push_back({RequestKind::ChooseCameraMotion, 0});
    UpdateScene(scene, ui, modelSetting, 0.1f);
    EXPECT_NEAR(scene.stage.camera.target.y, 5, 1e-3f);
    // And when a deletion while stopped moves the shown motion down a place and
    // another one takes the place it had.
    ui.requests.push_back({RequestKind::ChooseCameraMotion, 1});
    UpdateScene(scene, ui, modelSetting, 0.1f);
    EXPECT_NEAR(scene.stage.camera.target.y, 10, 1e-3f);
    StopAndReset(scene);
    ui.requests.push_back({RequestKind::DeleteMotion, 0});
    UpdateScene(scene, ui, modelSetting, 0.1f);
    ASSERT_EQ(scene.stage.cameraMotion, 0);
    VmdMotion later;
    later.cameraKeys = {CameraKey(0, {0, 7, 0}, -10, 30)};
    scene.motions.push_back({later, "later"});
    ui.requests.push_back({RequestKind::ChooseCameraMotion, 1});
    PressPlay(scene);
    UpdateScene(scene, ui, modelSetting, 0.1f);
    EXPECT_NEAR(scene.stage.camera.target.y, 7, 1e-3f);
}

}  // namespace qv
