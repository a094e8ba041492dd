// What the tool windows show and ask for, handed to the scene update each frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/ik.h"
#include "runtime/morphs.h"
#include "runtime/pose_math.h"
#include "scene/accessory_settings.h"
#include "scene/anti_aliasing.h"
#include "scene/model_edits.h"

namespace qv {

struct BoneState;
struct ModelInstance;

// What the interface asks of the scene. The interface never changes the
// scene itself: it queues these, and the scene update at the start of the
// next frame carries them out in the order asked, so two clicks in one frame
// both happen. An index names an entry as the interface saw it when asking;
// a removal earlier in the queue keeps later indices naming the same entry,
// and a request for the entry it removed is dropped.
enum class RequestKind : std::int32_t {
    DeleteModel,             // index: model row
    DeleteMotion,            // index: motion
    DeleteSong,              // index: song
    DeleteShader,            // index: shader program; built-in ones stay
    SelectModel,             // index: model row; on: its Select box
    SwitchPhysics,           // index: model row; on: its physics box
    ApplyShader,             // the model setting window's material and shader choice
    ApplyGraphics,           // the graphics edit values below
    ApplyPhysics,            // the physics edit values below
    PressPlay,               // the play button
    StopAndReset,            // the Stop/Reset button
    SelectSong,              // index: song
    ChooseCameraMotion,      // index: motion, -1 for none
    ChooseDefaultShader,     // index: shader program
    ChooseRayTracingShader,  // index: ray-tracing look
    Seek,                    // seconds: the play position; only a frame's last one counts
    SwitchLoop,              // on: start again at the end
    ResetView,               // the camera to the front, framing every model
    DeleteAccessory,         // index: accessory row
};

struct SceneRequest {
    RequestKind kind = RequestKind::PressPlay;
    std::int32_t index = -1;
    bool on = false;
    double seconds = 0.0;
    // A seek: let physics settle at the new pose. A drag along the timeline
    // or a held arrow key poses only, and settles once where it stops.
    bool settle = true;
};

// The interface's flags, edit values and pending requests: one for the
// process, plain fields.
struct UiState {
    bool showNavigator = true;
    bool showResourceManager = false;
    bool showModelSetting = false;
    bool showStatistics = true;
    bool showGraphicSetting = false;
    bool showPhysicsSetting = false;
    bool showAbout = false;
    bool showImportStatus = false;
    // The timeline along the bottom; F1 leaves it alone.
    bool showPlaybackBar = true;

    // Carried out in this order by the next scene update, which empties it.
    std::vector<SceneRequest> requests;
    // Accessory rows as the interface changed them; applied by the next
    // scene update before the requests (so before any removal), then emptied.
    std::vector<AccessoryEdit> accessoryEdits;

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

// Edits the window made for a model it was bound to before, in the same
// frame: they still reach that model at the next scene update.
struct EarlierModelEdits {
    std::int32_t modelRow = -1;
    const ModelInstance* model = nullptr;
    std::vector<ModelEdit> edits;
};

// What the model setting window is bound to, and the edits it has made since
// the last scene update. The window (interface stage) fills and reads it;
// the scene update applies `edits` and empties the list, and clears the whole
// state when it removes a model. The pointers are read only by the window:
// every write to the model goes through `edits`.
struct ModelSettingState {
    std::int32_t modelRow = -1;
    const ModelInstance* model = nullptr;
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
    std::vector<EarlierModelEdits> earlierEdits;
    // A tab (ModelSettingTab) to bring to the front at the next draw, for
    // automation; -1 for none. The draw resets it.
    std::int32_t tabRequest = -1;

    // Unbinds the window: no model, every index -1, every list empty.
    void Clear() { *this = ModelSettingState{}; }
};

}  // namespace qv
