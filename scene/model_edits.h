// Edits of a model's live values made by the model setting window, held until the scene update
// applies them between frames, so that a frame never draws half of one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "runtime/pose_math.h"

namespace qv {

struct ModelInstance;
struct ModelUiEntry;
struct SceneContent;

// The editable values of one material: its constants and the two switches
// of its GPU record, and the name of the shader that draws it (read only).
struct MaterialValues {
    float baseColor[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    float specularColor[3] = {0.0f, 0.0f, 0.0f};
    float specularStrength = 0.0f;
    float ambientColor[3] = {0.0f, 0.0f, 0.0f};
    bool drawEdge = false;
    float edgeSize = 0.0f;
    float edgeColor[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    float emissionColor[3] = {0.0f, 0.0f, 0.0f};
    float emissionStrength = 0.0f;
    float metallic = 0.0f;
    float roughness = 0.0f;
    float reflective = 0.0f;
    bool castShadow = false;
    bool receiveShadow = false;
    std::string shaderName;  // UTF-8
};

// Makes typed values safe to draw with. Only values that differ from
// `previous` are checked: one that is not a finite number is refused (the
// previous value stays); colours and the 0..1 sliders are clamped to 0..1,
// specular strength and edge size at 0 from below. What the content set and
// the user did not touch stays as it was.
void SanitizeMaterialValues(MaterialValues& values, const MaterialValues& previous);

// One change to the bound model, in the order the user made it.
struct ModelEdit {
    enum class Kind {
        BonePosition,  // index: bone; position: its new local position (w = 0)
        ResetBones,    // every bone's translation and rotation back to rest
        IkSwitch,      // index: IK control; enabled
        MorphWeight,   // index: morph control; value
        ResetMorphs,   // every morph weight 0
        Material,      // index: material; material
        ClearMotions,  // stop, drop the tracks, rest pose, weights 0
        AttachMotion,  // index: the scene's motion to attach
        // The window's choices kept in the model's row, for the next time
        // it opens and for the left drag.
        ChooseYRotationBone,  // index: bone, -1 for none; the drag angle restarts
        ChooseTransformBone,  // index: bone, -1 for none
        ChooseMaterial,       // index: material, -1 for none
    };
    Kind kind = Kind::ResetBones;
    std::int32_t index = -1;
    Vector4 position;
    bool enabled = false;
    float value = 0.0f;
    MaterialValues material;
};

// Carries out `edits` on `model` in order, on the main thread while no stage
// runs, and on its `row` when given (the window's choices, the names of
// the motions attached). Indices out of range are skipped. Material edits go
// through `writeMaterial` (the renderer's); without one they are dropped.
void ApplyModelEdits(
    ModelInstance& model, ModelUiEntry* row, const SceneContent& content,
    const std::vector<ModelEdit>& edits,
    const std::function<void(ModelInstance&, std::int32_t, const MaterialValues&)>& writeMaterial);

}  // namespace qv
