// The camera must keep its target centred and respond to each drag and the wheel alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <tuple>

#include "scene/camera_framing.h"
#include "scene/camera_input.h"
#include "scene/scene.h"

namespace qv {

namespace {

constexpr float kPi = std::numbers::pi_v<float>;

// Clip-space position divided by w: x and y in -1..1, depth in 0..1.
Vector4 Project(const Camera& camera, const Vector4& p) {
    const Vector4 clip = TransformPoint(p, Multiply(camera.view, camera.projection));
    return {clip.x / clip.w, clip.y / clip.w, clip.z / clip.w, 1.0f};
}

float Distance(const Vector4& a, const Vector4& b) {
    const Vector4 d = Subtract3(a, b);
    return std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
}

InputEvent Mouse(InputKind kind, std::int32_t x, std::int32_t y, std::uint32_t buttons = 0) {
    return {kind, buttons, {x, y}, 0, InputKey::Other};
}

InputEvent Wheel(std::int32_t delta) {
    return {InputKind::Wheel, 0, {}, delta, InputKey::Other};
}

InputEvent Event(InputKind kind, InputKey key = InputKey::Other) {
    return {kind, 0, {}, 0, key};
}

ModelUiEntry Row(bool selected, std::int32_t yRotationBone) {
    ModelUiEntry row;
    row.selected = selected;
    row.yRotationBone = yRotationBone;
    return row;
}

TEST(CameraTest, TargetSitsInTheScreenCentreFromEveryAngle) {
    Camera camera;
    EXPECT_NEAR(Distance(camera.eye, {0.0f, 10.0f, -20.0f, 0.0f}), 0.0f, 1e-5f);
    EXPECT_NEAR(camera.projection.m[1][1] / camera.projection.m[0][0], 1280.0f / 720.0f, 1e-5f);
    // Seen from -z in a left-handed system, +x is to the right and +y up.
    EXPECT_GT(Project(camera, {1.0f, 10.0f, 0.0f, 1.0f}).x, 0.0f);
    EXPECT_GT(Project(camera, {0.0f, 11.0f, 0.0f, 1.0f}).y, 0.0f);
    EXPECT_NEAR(Project(camera, {0.0f, 10.0f, -19.0f, 1.0f}).z, 0.0f, 1e-6f);  // near plane
    EXPECT_NEAR(Project(camera, {0.0f, 10.0f, camera.farZ - 20.0f, 1.0f}).z, 1.0f, 1e-5f);
    // Twice as far, half as far from the centre.
    EXPECT_NEAR(Project(camera, {1.0f, 10.0f, 20.0f, 1.0f}).x,
                Project(camera, {1.0f, 10.0f, 0.0f, 1.0f}).x / 2.0f, 1e-6f);

    // A quarter turn of yaw carries the eye from -z to -x, clockwise seen from above.
    camera.yaw = kPi / 2.0f;
    camera.pitch = 0.5f;
    UpdateCamera(camera);
    EXPECT_NEAR(camera.eye.x, -20.0f * std::cos(0.5f), 1e-4f);
    EXPECT_NEAR(camera.eye.z, 0.0f, 1e-4f);
    const Vector4 centre = Project(camera, camera.target);
    EXPECT_NEAR(centre.x, 0.0f, 1e-5f);
    EXPECT_NEAR(centre.y, 0.0f, 1e-5f);
    EXPECT_GT(centre.z, 0.0f);
    EXPECT_LT(centre.z, 1.0f);
}

TEST(CameraInputTest, WheelZoomsInUpToOneUnitFromTheTargetAndOutWithoutLimit) {
    Camera camera;
    for (int i = 0; i < 39; ++i) {
        HandleCameraInput(camera, 0.016f, Wheel(i == 38 ? 1200 : 120));
    }
    EXPECT_EQ(camera.zoom, 19.0f);
    EXPECT_NEAR(Distance(camera.eye, camera.target), 1.0f, 1e-5f);
    for (int i = 0; i < 238; ++i) {
        HandleCameraInput(camera, 0.016f, Wheel(-120));
    }
    EXPECT_EQ(camera.zoom, -100.0f);
    EXPECT_NEAR(Distance(camera.eye, camera.target), 120.0f, 1e-3f);
    HandleCameraInput(camera, 0.016f, Wheel(0));  // a wheel event with no turn
    EXPECT_EQ(camera.zoom, -100.0f);
}

TEST(CameraInputTest, RightDragOrbitsOnlyWithTheRightButtonAlone) {
    Camera camera;
    EXPECT_EQ(HandleCameraInput(camera, 0.02f, Mouse(InputKind::RightDown, 100, 100)),
              MouseCapture::Take);
    HandleCameraInput(camera, 0.02f, Mouse(InputKind::MouseMove, 110, 115, kInputRightButton));
    EXPECT_NEAR(camera.yaw, 0.2f, 1e-6f);  // frame seconds per pixel
    EXPECT_NEAR(camera.pitch, 0.3f, 1e-6f);
    EXPECT_GT(camera.eye.y, 10.0f);  // moving the mouse down raises the eye

    // Another button or a modifier stops the orbit, but the cursor is followed.
    for (const std::uint32_t held :
         {kInputRightButton | kInputMiddleButton, kInputRightButton | kInputShift}) {
        HandleCameraInput(camera, 0.02f, Mouse(InputKind::MouseMove, 200, 200, held));
        EXPECT_NEAR(camera.yaw, 0.2f, 1e-6f);
        EXPECT_EQ(camera.pan, Vector4{});
        EXPECT_EQ(camera.lastCursor, (CursorPosition{200, 200}));
    }
    // A step past the pitch limit is dropped whole, not clamped; its yaw counts.
    camera.pitch = 1.55f;
    HandleCameraInput(camera, 0.01f, Mouse(InputKind::MouseMove, 205, 201, kInputRightButton));
    EXPECT_EQ(camera.pitch, 1.55f);
    EXPECT_NEAR(camera.yaw, 0.25f, 1e-6f);
    // A step that lands on a limit exactly is taken, at either end.
    camera.minPitch = -0.5f;
    camera.maxPitch = 0.5f;
    camera.pitch = 0.0f;
    HandleCameraInput(camera, 0.25f, Mouse(InputKind::MouseMove, 205, 203, kInputRightButton));
    EXPECT_EQ(camera.pitch, 0.5f);
    HandleCameraInput(camera, 0.25f, Mouse(InputKind::MouseMove, 205, 199, kInputRightButton));
    EXPECT_EQ(camera.pitch, -0.5f);

    EXPECT_EQ(HandleCameraInput(camera, 0.02f, Mouse(InputKind::RightUp, 0, 0)),
              MouseCapture::Release);
    HandleCameraInput(camera, 0.02f, Mouse(InputKind::MouseMove, 900, 900, kInputRightButton));
    EXPECT_NEAR(camera.yaw, 0.25f, 1e-6f);
    EXPECT_EQ(HandleCameraInput(camera, 0.02f, Mouse(InputKind::RightUp, 0, 0)),
              MouseCapture::Keep);
}

TEST(CameraInputTest, MiddleDragPansTargetAndEyeTogetherInCameraSpace) {
    Camera camera;
    camera.yaw = kPi / 2.0f;
    UpdateCamera(camera);
    const Vector4 eyeToTarget = Subtract3(camera.target, camera.eye);
    const Vector4 right{camera.view.m[0][0], camera.view.m[1][0], camera.view.m[2][0], 0.0f};
    const Vector4 up{camera.view.m[0][1], camera.view.m[1][1], camera.view.m[2][1], 0.0f};
    const Vector4 target = camera.target;

    HandleCameraInput(camera, 0.5f, Mouse(InputKind::MiddleDown, 50, 50));
    HandleCameraInput(camera, 0.5f, Mouse(InputKind::MouseMove, 60, 45, kInputMiddleButton));
    EXPECT_NEAR(camera.pan.x, -0.2f, 1e-6f);
    EXPECT_NEAR(camera.pan.y, -0.1f, 1e-6f);
    EXPECT_EQ(camera.yaw, kPi / 2.0f);
    // Dragging right and up moves the view to the camera's left and down:
    // the scene follows the mouse.
    const Vector4 moved = Subtract3(camera.target, target);
    const Vector4 expected{-0.2f * right.x - 0.1f * up.x, -0.2f * right.y - 0.1f * up.y,
                           -0.2f * right.z - 0.1f * up.z, 0.0f};
    EXPECT_NEAR(Distance(moved, expected), 0.0f, 1e-5f);
    EXPECT_NEAR(Distance(Subtract3(camera.target, camera.eye), eyeToTarget), 0.0f, 1e-5f);
}

TEST(CameraFramingTest, ResetViewTurnsToTheFrontAndFitsEveryModel) {
    SceneContent content;
    Camera camera;
    camera.yaw = 1.0f;
    camera.pitch = 0.4f;
    camera.zoom = 15.0f;
    FrameModels(camera, content);  // nothing loaded: the start view
    const Camera fresh;
    EXPECT_NEAR(Distance(camera.eye, fresh.eye), 0.0f, 1e-5f);

    // A tall model at the origin and a small one far to the right, behind.
    const Vector4 points[] = {{0, 0, 0, 1}, {0, 20, 0, 1}, {30, 2, 10, 1}, {31, 4, 11, 1}};
    for (int m = 0; m < 2; ++m) {
        content.models.push_back({std::make_unique<ModelInstance>(), {}});
        content.models.back().instance->bones.resize(2);
        for (int b = 0; b < 2; ++b) {
            content.models.back().instance->bones[b].framePosition = points[m * 2 + b];
        }
    }
    content.models[1].instance->bones[0].framePosition.x = NAN;  // skipped, not spread
    content.models[1].instance->bones[0].framePosition = points[2];
    camera.yaw = 2.0f;
    FrameModels(camera, content);
    EXPECT_EQ(camera.yaw, 0.0f);
    EXPECT_EQ(camera.pitch, 0.0f);
    EXPECT_LT(camera.eye.z, camera.target.z) << "looking from the front, along +z";
    EXPECT_NEAR(camera.target.x, 15.5f, 1e-4f);
    EXPECT_NEAR(camera.target.y, 10.0f, 1e-4f);
    float widest = 0.0f;
    for (const Vector4& p : points) {
        const Vector4 seen = Project(camera, p);
        EXPECT_LE(std::abs(seen.x), 1.0f);
        EXPECT_LE(std::abs(seen.y), 1.0f);
        widest = std::max({widest, std::abs(seen.x), std::abs(seen.y)});
    }
    EXPECT_GT(widest, 0.6f) << "framed, not lost in the distance";

    // The same models elsewhere are framed from the same distance.
    const float distance = Distance(camera.eye, camera.target);
    for (ModelRecord& model : content.models) {
        for (BoneState& bone : model.instance->bones) {
            bone.framePosition = Add3(bone.framePosition, {-100.0f, 50.0f, 0.0f, 0.0f}, 1.0f);
        }
    }
    FrameModels(camera, content);
    EXPECT_NEAR(camera.target.x, -84.5f, 1e-3f);
    EXPECT_NEAR(Distance(camera.eye, camera.target), distance, 1e-3f);
    // A camera whose start view stands elsewhere sees them from the same place.
    Camera shifted;
    shifted.baseEye = {3, 12, -15, 0};
    shifted.baseTarget = {3, 12, 5, 0};
    FrameModels(shifted, content);
    EXPECT_NEAR(Distance(shifted.target, camera.target), 0.0f, 1e-3f);
    EXPECT_NEAR(Distance(shifted.eye, camera.eye), 0.0f, 1e-3f);

    // A tall, thin figure keeps a tenth of its height free above its head.
    SceneContent figure;
    figure.models.push_back({std::make_unique<ModelInstance>(), {}});
    figure.models[0].instance->bones.resize(2);
    figure.models[0].instance->bones[0].framePosition = {-1, 0, 0, 1};
    figure.models[0].instance->bones[1].framePosition = {1, 20, 0, 1};
    FrameModels(camera, figure);
    const float top = Project(camera, {0, 20, 0, 1}).y;
    EXPECT_GT(top, 0.7f);
    EXPECT_LT(top, 0.9f);

    // A small, deep one keeps at least a tenth of a unit free: the top edge
    // of its box's front face meets the top of the view.
    figure.models[0].instance->bones[0].framePosition = {0, 0, 0, 1};
    figure.models[0].instance->bones[1].framePosition = {0.5f, 0.5f, 10, 1};
    FrameModels(camera, figure);
    EXPECT_NEAR(Project(camera, {0.25f, 0.6f, -0.1f, 1}).y, 1.0f, 1e-3f);

    // A wide, low one is fitted by its width, however flat the window.
    figure.models[0].instance->bones[0].framePosition = {-20, 0, 0, 1};
    figure.models[0].instance->bones[1].framePosition = {20, 2, 0, 1};
    for (const auto& [width, height, least] :
         {std::tuple{camera.viewportWidth, camera.viewportHeight, 0.7f},
          std::tuple{4u, 1u, 0.5f}}) {  // a flat window: the depth's share weighs more
        camera.viewportWidth = width;
        camera.viewportHeight = height;
        FrameModels(camera, figure);
        const float side = Project(camera, {20, 1, 0, 1}).x;
        EXPECT_GT(side, least) << width << "x" << height;
        EXPECT_LT(side, 1.0f) << width << "x" << height;
    }

    // A model whose only bone stands nowhere (any one coordinate not a
    // number) frames like nothing loaded.
    for (int axis = 0; axis < 3; ++axis) {
        SceneContent lost;
        lost.models.push_back({std::make_unique<ModelInstance>(), {}});
        lost.models[0].instance->bones.resize(1);
        Vector4& p = lost.models[0].instance->bones[0].framePosition;
        p = {1, 2, 3, 1};
        (axis == 0 ? p.x : axis == 1 ? p.y : p.z) = NAN;
        FrameModels(camera, lost);
        EXPECT_NEAR(Distance(camera.eye, fresh.eye), 0.0f, 1e-5f) << axis;
    }
}

// Two models of three bones each; only the first is selected.
class SceneInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 2; ++i) {
            scene_.models.push_back({std::make_unique<ModelInstance>(), {}});
            scene_.models.back().instance->bones.resize(3);
        }
        scene_.models[0].entry = Row(true, 0);  // the first bone counts too
        scene_.models[1].entry.yRotationBone = 2;
    }

    MouseCapture Send(const InputEvent& e, bool interfaceWantsInput = false) {
        return HandleSceneInput(scene_, ui_, 0.02f, e, interfaceWantsInput);
    }

    Scene scene_;
    UiState ui_;
};

TEST_F(SceneInputTest, LeftDragTurnsTheSelectedModelsBoneAboutTheVerticalAxis) {
    // Selected, but its model has no such bone.
    scene_.models.push_back({std::make_unique<ModelInstance>(), Row(true, 0)});
    // Before a left press in the scene (one on a window, say), a move with
    // the button down turns nothing, and a release lets nothing go.
    EXPECT_EQ(Send(Mouse(InputKind::MouseMove, 90, 50)), MouseCapture::Keep);
    EXPECT_EQ(Send(Mouse(InputKind::MouseMove, 60, 50, kInputLeftButton)), MouseCapture::Keep);
    EXPECT_EQ(Send(Mouse(InputKind::LeftUp, 60, 50)), MouseCapture::Keep);
    EXPECT_EQ(scene_.models[0].entry.yRotationAngle, 0.0f);
    EXPECT_EQ(Send(Mouse(InputKind::LeftDown, 100, 50)), MouseCapture::Take);
    Send(Mouse(InputKind::MouseMove, 110, 80, kInputLeftButton));
    // Every row accumulates the angle; only x movement counts.
    for (const ModelRecord& record : scene_.models) {
        EXPECT_NEAR(record.entry.yRotationAngle, -3.0f, 1e-5f);
    }
    const float half = -3.0f * kPi / 180.0f / 2.0f;
    const Quaternion& q = scene_.models[0].instance->bones[0].rotation;
    EXPECT_NEAR(q.y, std::sin(half), 1e-6f);
    EXPECT_NEAR(q.w, std::cos(half), 1e-6f);
    EXPECT_EQ(q.x, 0.0f);
    EXPECT_EQ(scene_.models[1].instance->bones[2].rotation, Quaternion{});  // not selected
    EXPECT_EQ(scene_.stage.camera.yaw, 0.0f);

    // With a modifier nothing turns, but the position is taken.
    Send(Mouse(InputKind::MouseMove, 150, 80, kInputLeftButton | kInputControl));
    Send(Mouse(InputKind::MouseMove, 148, 80, kInputLeftButton));
    EXPECT_NEAR(scene_.models[0].entry.yRotationAngle, -2.4f, 1e-5f);
    EXPECT_EQ(Send(Mouse(InputKind::LeftUp, 148, 80)), MouseCapture::Release);
    EXPECT_FALSE(scene_.stage.leftDragging);
}

TEST_F(SceneInputTest, CaptureLossEndsBothDragsAndF1TogglesTheNavigator) {
    Send(Mouse(InputKind::LeftDown, 0, 0));
    Send(Mouse(InputKind::RightDown, 0, 0));
    EXPECT_EQ(Send(Event(InputKind::CaptureLost)), MouseCapture::Release);
    EXPECT_FALSE(scene_.stage.leftDragging);
    EXPECT_EQ(scene_.stage.camera.dragging, 0u);

    const InputEvent f1 = Event(InputKind::KeyDown, InputKey::F1);
    Send(f1);
    EXPECT_FALSE(ui_.showNavigator);
    Send(Event(InputKind::KeyDown));
    EXPECT_FALSE(ui_.showNavigator);
    // While a tool window has the keyboard or the mouse nothing reacts.
    Send(f1, true);
    Send(Wheel(120), true);
    EXPECT_FALSE(ui_.showNavigator);
    EXPECT_EQ(scene_.stage.camera.zoom, 0.0f);
}

TEST_F(SceneInputTest, ResolutionChangeGivesTheCameraTheNewAspectRatio) {
    ModelSettingState modelSetting;
    ui_.editResolutionIndex = 1;  // 1366 x 768
    ui_.requests.push_back({RequestKind::ApplyGraphics});
    UpdateScene(scene_, ui_, modelSetting, 1.0f / 60.0f);
    EXPECT_EQ(scene_.stage.camera.viewportWidth, 1366u);
    EXPECT_NEAR(scene_.stage.camera.projection.m[1][1] / scene_.stage.camera.projection.m[0][0],
                1366.0f / 768.0f, 1e-5f);
    SetCameraViewport(scene_.stage.camera, 0, 300);  // a zero side is ignored
    EXPECT_EQ(scene_.stage.camera.viewportHeight, 768u);
    SetCameraViewport(scene_.stage.camera, 300, 1);  // a window dragged one pixel tall
    EXPECT_EQ(scene_.stage.camera.viewportHeight, 1u);
    EXPECT_NEAR(scene_.stage.camera.projection.m[1][1] / scene_.stage.camera.projection.m[0][0],
                300.0f, 1e-3f);
}

}  // namespace

}  // namespace qv
