#pragma once

#include <cstdint>

#include "runtime/pose_math.h"

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
    std::int32_t editAntiAliasing = 3;
    std::int32_t editDiffuseQuality = 0;
    std::int32_t editShadowQuality = 0;
    bool editRayTracing = false;
    bool editVSync = true;
    bool editFullscreen = false;
    bool editShowStatistics = true;
    Vector4 editGravity{0.0f, -9.81f, 0.0f, 0.0f};
    float editStepTime = 1.0f / 60.0f;
};

// What the model setting window is bound to; the parts the scene update
// keeps right when lists change under it.
struct ModelSettingState {
    std::int32_t modelRow = -1;
    ModelInstance* model = nullptr;
    std::int32_t materialIndex = -1;
    std::int32_t shaderSelectIndex = -1;
    std::int32_t motionSelectIndex = -1;

    // Unbinds the window: no model, every index -1.
    void Clear() { *this = ModelSettingState{}; }
};
