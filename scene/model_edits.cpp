// Edits of a model's live values made by the model setting window, applied between frames.
#include "scene/model_edits.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "runtime/model_instance.h"
#include "runtime/motion.h"
#include "scene/content_rows.h"
#include "scene/scene_content.h"

namespace qv {

namespace {

constexpr float kUnbounded = std::numeric_limits<float>::max();

// A value the user changed: one that is not a finite number is refused
// (the previous one stays), others are clamped into [low, high]. Values the
// user left alone stay as the content gave them, in range or not.
void Check(float& value, float previous, float low, float high) {
    if (value == previous) {
        return;
    }
    if (!std::isfinite(value)) {
        value = std::isfinite(previous) ? previous : std::clamp(0.0f, low, high);
        return;
    }
    value = std::clamp(value, low, high);
}

template <std::size_t N>
void CheckColour(float (&value)[N], const float (&previous)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
        Check(value[i], previous[i], 0.0f, 1.0f);
    }
}

void RestPose(ModelInstance& model) {
    for (BoneState& bone : model.bones) {
        bone.translation = bone.restOffset;
        bone.rotation = Quaternion{};
    }
}

void ZeroMorphs(ModelInstance& model) {
    // Every kind's weight; the vertex and UV weights follow from these each frame.
    std::fill(model.morphWeights.begin(), model.morphWeights.end(), 0.0f);
    std::fill(model.vertexMorphWeights.begin(), model.vertexMorphWeights.end(), 0.0f);
    std::fill(model.uvMorphWeights.begin(), model.uvMorphWeights.end(), 0.0f);
}

}  // namespace

void SanitizeMaterialValues(MaterialValues& v, const MaterialValues& p) {
    CheckColour(v.baseColor, p.baseColor);
    CheckColour(v.specularColor, p.specularColor);
    CheckColour(v.ambientColor, p.ambientColor);
    CheckColour(v.edgeColor, p.edgeColor);
    CheckColour(v.emissionColor, p.emissionColor);
    Check(v.specularStrength, p.specularStrength, 0.0f, kUnbounded);
    Check(v.edgeSize, p.edgeSize, 0.0f, kUnbounded);
    Check(v.emissionStrength, p.emissionStrength, 0.0f, 1.0f);
    Check(v.metallic, p.metallic, 0.0f, 1.0f);
    Check(v.roughness, p.roughness, 0.0f, 1.0f);
    Check(v.reflective, p.reflective, 0.0f, 1.0f);
}

namespace {

// The edit's share in the model's row; `attached` tells whether an attach
// edit went through, so that the row names only motions the model has.
void ApplyRowEdit(ModelUiEntry& row, const SceneContent& content, const ModelEdit& edit,
                  bool attached) {
    switch (edit.kind) {
        case ModelEdit::Kind::ChooseYRotationBone:
            row.yRotationBone = edit.index;
            row.yRotationAngle = 0.0f;
            break;
        case ModelEdit::Kind::ChooseTransformBone:
            row.transformBone = edit.index;
            break;
        case ModelEdit::Kind::ChooseMaterial:
            row.materialIndex = edit.index;
            break;
        case ModelEdit::Kind::ClearMotions:
            row.addedMotions.clear();
            break;
        case ModelEdit::Kind::AttachMotion:
            if (attached && InRange(edit.index, content.motions.size())) {
                row.addedMotions.push_back(
                    content.motions[static_cast<std::size_t>(edit.index)].name);
            }
            break;
        default:
            break;
    }
}

}  // namespace

void ApplyModelEdits(
    ModelInstance& model, ModelUiEntry* row, const SceneContent& content,
    const std::vector<ModelEdit>& edits,
    const std::function<void(ModelInstance&, std::int32_t, const MaterialValues&)>& writeMaterial) {
    for (const ModelEdit& edit : edits) {
        bool attached = false;
        switch (edit.kind) {
            case ModelEdit::Kind::BonePosition:
                // A position field takes "nan" and "inf" as numbers; one would
                // spread to every bone below and every vertex they move.
                if (InRange(edit.index, model.bones.size()) && std::isfinite(edit.position.x) &&
                    std::isfinite(edit.position.y) && std::isfinite(edit.position.z)) {
                    const Vector4& p = edit.position;
                    model.bones[static_cast<std::size_t>(edit.index)].translation = {p.x, p.y, p.z,
                                                                                     0.0f};
                }
                break;
            case ModelEdit::Kind::ResetBones:
                RestPose(model);
                break;
            case ModelEdit::Kind::IkSwitch:
                if (InRange(edit.index, model.ikControls.size()) &&
                    model.ikControls[static_cast<std::size_t>(edit.index)].ikEnabled != nullptr) {
                    *model.ikControls[static_cast<std::size_t>(edit.index)].ikEnabled =
                        edit.enabled ? 1 : 0;
                }
                break;
            case ModelEdit::Kind::MorphWeight:
                if (InRange(edit.index, model.morphControls.size()) &&
                    model.morphControls[static_cast<std::size_t>(edit.index)].weight != nullptr &&
                    std::isfinite(edit.value)) {
                    *model.morphControls[static_cast<std::size_t>(edit.index)].weight =
                        std::clamp(edit.value, 0.0f, 1.0f);
                }
                break;
            case ModelEdit::Kind::ResetMorphs:
                ZeroMorphs(model);
                break;
            case ModelEdit::Kind::Material:
                if (writeMaterial) {
                    writeMaterial(model, edit.index, edit.material);
                }
                break;
            case ModelEdit::Kind::ClearMotions:
                model.playing = 0;
                model.motion.time = 0.0f;
                model.motion.end = 0.0f;
                model.motion.boneTracks.clear();
                model.motion.morphTracks.clear();
                RestPose(model);
                ZeroMorphs(model);
                break;
            case ModelEdit::Kind::AttachMotion:
                // Attaching while the model plays would jump its pose
                // mid-dance; the window refuses it, and so does this.
                if (InRange(edit.index, content.motions.size()) && model.playing == 0) {
                    AttachMotion(model,
                                 content.motions[static_cast<std::size_t>(edit.index)].motion);
                    attached = true;
                    // A pose (every key at frame 0) has no time to play
                    // through, so playing would never evaluate it: it poses
                    // the model now, and the pose then holds.
                    if (model.motion.end == 0.0f) {
                        RewindMotion(model);
                    }
                }
                break;
            case ModelEdit::Kind::ChooseYRotationBone:
            case ModelEdit::Kind::ChooseTransformBone:
            case ModelEdit::Kind::ChooseMaterial:
                break;  // the row's, not the model's
        }
        if (row != nullptr) {
            ApplyRowEdit(*row, content, edit, attached);
        }
    }
}

}  // namespace qv
