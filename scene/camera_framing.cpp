// Frames every model from the front: a box around the posed bones, then the distance that fits it.
#include "scene/camera_framing.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "scene/camera.h"
#include "scene/scene_content.h"

namespace qv {

namespace {

// Bones run through the middle of limbs and hair: the surface reaches past
// them by about this much of the model's height on every side.
constexpr float kSurfaceMargin = 0.1f;

}  // namespace

void FrameModels(Camera& camera, const SceneContent& content) {
    camera.pitch = camera.yaw = camera.roll = 0.0f;
    camera.zoom = 0.0f;
    camera.pan = {};
    float low[3] = {std::numeric_limits<float>::max(), std::numeric_limits<float>::max(),
                    std::numeric_limits<float>::max()};
    float high[3] = {std::numeric_limits<float>::lowest(), std::numeric_limits<float>::lowest(),
                     std::numeric_limits<float>::lowest()};
    bool any = false;
    for (const ModelRecord& model : content.models) {
        for (const BoneState& bone : model.instance->bones) {
            const float p[3] = {bone.framePosition.x, bone.framePosition.y, bone.framePosition.z};
            if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2])) {
                continue;
            }
            for (int a = 0; a < 3; ++a) {
                low[a] = std::min(low[a], p[a]);
                high[a] = std::max(high[a], p[a]);
            }
            any = true;
        }
    }
    if (!any) {
        UpdateCamera(camera);
        return;
    }
    const float margin = kSurfaceMargin * std::max({high[0] - low[0], high[1] - low[1], 1.0f});
    float half[3];
    float centre[3];
    for (int a = 0; a < 3; ++a) {
        half[a] = (high[a] - low[a]) * 0.5f + margin;
        centre[a] = (high[a] + low[a]) * 0.5f;
    }
    const float tanHalfY = std::tan(camera.fovY * 0.5f);
    const float aspect = camera.viewportHeight > 0 ? static_cast<float>(camera.viewportWidth) /
                                                         static_cast<float>(camera.viewportHeight)
                                                   : 1.0f;
    // The front face of the box is what must fit; the eye stands before it.
    const float distance = std::max(half[1] / tanHalfY, half[0] / (tanHalfY * aspect)) + half[2];
    const float baseDistance = camera.baseTarget.z - camera.baseEye.z;
    camera.zoom = std::min(baseDistance - distance, camera.maxZoom);
    // Seen from the front the camera's axes are the world's, so the pan is
    // the offset of the centre from the base target.
    camera.pan = {centre[0] - camera.baseTarget.x, centre[1] - camera.baseTarget.y,
                  centre[2] - camera.baseTarget.z, 0.0f};
    UpdateCamera(camera);
}

}  // namespace qv
