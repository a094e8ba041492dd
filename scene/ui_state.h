// What the tool windows show and ask for, handed to the scene update each frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/ik.h"
#include "runtime/morphs.h"
#include "runtime/pose_math.h"
#include "scene/anti_aliasing.h"
#include "scene/model_edits.h"

namespace qv {

struct BoneState;
struct ModelInstance;

// The interface's flags, edit values and pending requests: one for the
// process, plain fields. Requests are carried out and reset by the scene
// update at the start of the next frame.
struct UiState {
    bool showNavigator = true;
    bool showResourceManager = false;
    bool showModelSetting = false;
    bool showStatistics = true;
    bool showGraphicSetting = false;
    bool showPhysicsSetting = false;
    bool showAbout = false;
    bool showImportStatus = false;

    std::int32_t deleteModelIndex = -1;
    std::int32_t deleteMotionIndex = -1;
    std::int32_t deleteSongIndex = -1;
    std::int32_t deleteShaderIndex = -1;
    std::int32_t physicsToggledIndex = -1;
    bool applyShaderRequested = false;
    bool applyGraphicsRequested = false;
    bool applyPhysicsRequested = false;
    // request: rewind every model's motion (the second half of Stop/Reset)
    bool rewindRequested = false;

    std::int32_t editResolutionIndex = 0;
    std::int32_t editAntiAliasing = kMsaa4x;
    std::int32_t editDiffuseQuality = 0;
    std::int32_t editShadowQuality = 0;
    bool editRayTracing = false;
    bool editVSync = true;
    bool editFullscreen = false;
    bool editShowStatistics = true;
    bool editGroundShadow = true;
    Vector4 editGravity{0.0f, -9.81f, 0.0f, 0.0f};
    float editStepTime = 1.0f / 60.0f;
};

// The model setting window's tabs, in their order.
enum ModelSettingTab : std::int32_t {
    kModelSettingGeneral = 0,
    kModelSettingBone = 1,
    kModelSettingMaterial = 2,
    kModelSettingMorph = 3,
    kModelSettingMotion = 4,
};

// What the model setting window is bound to, and the edits it has made since
// the last scene update. The window (interface stage) fills and reads it;
// the scene update applies `edits` and empties the list, and clears the whole
// state when it removes a model. The pointers are read only by the window:
// every write to the model goes through `edits`.
struct ModelSettingState {
    std::int32_t modelRow = -1;
    ModelInstance* model = nullptr;
    std::int32_t yRotationBone = -1;
    std::int32_t transformBone = -1;
    const BoneState* transformBonePtr = nullptr;
    Vector4 localPositionEdit;
    std::vector<std::string> boneNames;
    std::vector<IkControl> ikControls;
    std::int32_t materialIndex = -1;
    std::int32_t shaderSelectIndex = -1;
    std::vector<std::string> materialNames;
    std::int32_t motionSelectIndex = -1;
    std::string addedMotionsText;
    std::vector<MorphControl> morphControls;

    std::vector<ModelEdit> edits;
    // A tab (ModelSettingTab) to bring to the front at the next draw, for
    // automation; -1 for none. The draw resets it.
    std::int32_t tabRequest = -1;

    // Unbinds the window: no model, every index -1, every list empty.
    void Clear() { *this = ModelSettingState{}; }
};

}  // namespace qv
