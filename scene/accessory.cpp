// Accessories follow their bone once a frame and answer their row's edits.
#include "scene/accessory.h"

#include <algorithm>
#include <numbers>

#include "runtime/skeleton.h"
#include "scene/scene_content.h"

namespace qv {

namespace {

constexpr float kRadiansPerDegree = std::numbers::pi_v<float> / 180.0f;

const BoneState* FollowedBone(const AccessorySettings& s, const std::vector<ModelRecord>& models) {
    if (!InRange(s.model, models.size())) {
        return nullptr;
    }
    const ModelInstance& model = *models[static_cast<std::size_t>(s.model)].instance;
    if (!InRange(s.bone, model.bones.size())) {
        return nullptr;
    }
    return &model.bones[static_cast<std::size_t>(s.bone)];
}

Matrix4 OwnTransform(const AccessorySettings& s) {
    Matrix4 scale;
    scale.m[0][0] = scale.m[1][1] = scale.m[2][2] = s.scale;
    const Matrix4 turn = RotationMatrix(EulerToQuaternion(s.rotationDegrees.x * kRadiansPerDegree,
                                                          s.rotationDegrees.y * kRadiansPerDegree,
                                                          s.rotationDegrees.z * kRadiansPerDegree));
    return Multiply(Multiply(scale, turn),
                    TranslationMatrix({s.position.x, s.position.y, s.position.z, 1.0f}));
}

// Keeps what the interface typed inside what draws sensibly.
AccessorySettings Sanitised(AccessorySettings s) {
    const auto finite = [](float v, float fallback) { return std::isfinite(v) ? v : fallback; };
    for (float* v : {&s.position.x, &s.position.y, &s.position.z, &s.rotationDegrees.x,
                     &s.rotationDegrees.y, &s.rotationDegrees.z}) {
        *v = finite(*v, 0.0f);
    }
    s.scale = std::max(finite(s.scale, 1.0f), kMinAccessoryScale);
    s.opacity = std::clamp(finite(s.opacity, 1.0f), 0.0f, 1.0f);
    return s;
}

// The frame a bone gives what follows it: the bone's turn, placed at its
// posed head. At rest it is a move to the bone's rest position.
Matrix4 BoneFollowFrame(const BoneState& bone) {
    return Multiply(TranslationMatrix(bone.restHead), SkinningMatrix(bone));
}

// The accessory's transform in model space: its own scale, turn and move,
// then the followed bone's frame (or none, in the world).
Matrix4 AccessoryTransform(const AccessorySettings& settings,
                           const std::vector<ModelRecord>& models) {
    const Matrix4 own = OwnTransform(settings);
    const BoneState* bone = FollowedBone(settings, models);
    return bone != nullptr ? Multiply(own, BoneFollowFrame(*bone)) : own;
}

}  // namespace

void UpdateAccessories(SceneContent& content) {
    for (AccessoryRecord& accessory : content.accessories) {
        ModelInstance& instance = *accessory.instance;
        if (instance.bones.empty()) {
            continue;
        }
        // The one bone sits at the origin with no tail, so its world matrix
        // is the skinning matrix of every vertex.
        BoneState& root = instance.bones[0];
        root.worldMatrix = AccessoryTransform(accessory.settings, content.models);
        // Opacity reaches the renderer as a material multiplier on the
        // diffuse alpha, the path material morphs take: an accessory has no
        // morphs of its own to overwrite it.
        const float alpha = accessory.settings.visible ? accessory.settings.opacity : 0.0f;
        for (MaterialMorphResult& material : instance.materialMorphs) {
            material.multiply.diffuse.w = alpha;
        }
        instance.materialMorphCount = instance.materialMorphs.empty() ? 0 : 1;
    }
}

void ApplyAccessoryEdits(SceneContent& content, std::vector<AccessoryEdit>& edits) {
    for (const AccessoryEdit& edit : edits) {
        if (InRange(edit.row, content.accessories.size())) {
            content.accessories[static_cast<std::size_t>(edit.row)].settings =
                Sanitised(edit.settings);
        }
    }
    edits.clear();
}

bool RemoveAccessory(SceneContent& content, std::int32_t row) {
    if (!InRange(row, content.accessories.size())) {
        return false;
    }
    const auto it = content.accessories.begin() + row;
    if (content.releaseModelResources) {
        content.releaseModelResources(*it->instance);
    }
    content.accessories.erase(it);
    return true;
}

void ForgetRemovedModel(SceneContent& content, std::int32_t removed) {
    for (AccessoryRecord& accessory : content.accessories) {
        AccessorySettings& s = accessory.settings;
        if (s.model == removed) {
            // The bone's turn is gone with the model; the place is kept.
            const Matrix4 last = accessory.instance->bones.empty()
                                     ? Matrix4{}
                                     : accessory.instance->bones[0].worldMatrix;
            s.model = s.bone = -1;
            s.position = {last.m[3][0], last.m[3][1], last.m[3][2]};
        } else if (s.model > removed) {
            --s.model;
        }
    }
}

}  // namespace qv
