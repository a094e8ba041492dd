// Carries out the interface's requests in the order it made them.
#include "scene/scene_requests.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "runtime/physics_bodies.h"
#include "scene/camera_framing.h"
#include "scene/playback_clock.h"

namespace qv {

namespace {

// Keeps an index into a list right when entry `removed` leaves it.
void Shift(std::int32_t& index, std::int32_t removed, std::int32_t whenRemoved) {
    if (index == removed) {
        index = whenRemoved;
    } else if (index > removed) {
        --index;
    }
}

bool RemoveModel(Scene& scene, std::int32_t i, ModelSettingState& modelSetting, GpuIdle& gpu) {
    if (!InRange(i, scene.models.size())) {
        return false;
    }
    std::unique_lock writing(scene.physics->lock);
    gpu.Wait();
    modelSetting.Clear();
    ReleaseBodies(*scene.models[i].instance, *scene.physics);
    if (scene.releaseModelResources) {
        scene.releaseModelResources(*scene.models[i].instance);
    }
    scene.models.erase(scene.models.begin() + i);
    ForgetRemovedModel(scene, i);
    if (scene.render.rayTracing) {
        scene.render.rebuildAccelerationStructures = true;
    }
    return true;
}

bool RemoveMotion(Scene& scene, std::int32_t i, ModelSettingState& modelSetting) {
    if (!InRange(i, scene.motions.size())) {
        return false;
    }
    scene.motions.erase(scene.motions.begin() + i);
    Shift(modelSetting.motionSelectIndex, i, -1);
    Shift(scene.stage.cameraMotion, i, -1);
    scene.stage.sortedStageMotion = -1;
    return true;
}

bool RemoveSong(Scene& scene, std::int32_t i) {
    if (!InRange(i, scene.songs.size())) {
        return false;
    }
    if (scene.playback.selectedSong == i) {
        scene.playback.songInstance.reset();  // the instance goes before its effect
    }
    Shift(scene.playback.selectedSong, i, -1);
    scene.songs.erase(scene.songs.begin() + i);
    return true;
}

bool RemoveShader(Scene& scene, std::int32_t i, ModelSettingState& modelSetting) {
    if (!InRange(i, scene.shaders.size()) || scene.shaders[i].entry.builtIn) {
        return false;  // built-in programs stay
    }
    scene.shaders.erase(scene.shaders.begin() + i);
    Shift(modelSetting.shaderSelectIndex, i, -1);
    // Without its chosen program, new models get the toon shader again.
    Shift(scene.defaultShader, i, 1);
    return true;
}

void ResizeTo(Scene& scene, Resolution size, GpuIdle& gpu) {
    gpu.Wait();
    scene.render.renderWidth = size.width;
    scene.render.renderHeight = size.height;
    // The projection follows the new aspect ratio from the next frame on.
    SetCameraViewport(scene.stage.camera, size.width, size.height);
    if (scene.hooks.resize) {
        scene.hooks.resize(size.width, size.height);
    }
}

void ApplyGraphicsSettings(Scene& scene, UiState& ui, GpuIdle& gpu) {
    SceneHooks& hooks = scene.hooks;
    const std::int32_t editResolution =
        std::clamp(ui.editResolutionIndex, 0, static_cast<std::int32_t>(kResolutions.size()) - 1);
    const bool resolutionChanged = editResolution != scene.render.resolutionIndex;
    const bool antiAliasingChanged = ui.editAntiAliasing != scene.render.antiAliasing;
    const bool rayTracingChanged = ui.editRayTracing != scene.render.rayTracing;
    const bool diffuseChanged = ui.editDiffuseQuality != scene.render.diffuseQuality;
    const bool shadowChanged = ui.editShadowQuality != scene.render.shadowQuality;
    const bool vsync = hooks.getVsync ? hooks.getVsync() : true;
    const bool vsyncChanged = ui.editVSync != vsync;
    const bool fullscreen = scene.render.fullscreen;
    const bool fullscreenChanged = ui.editFullscreen != fullscreen;

    if (resolutionChanged && !fullscreenChanged && !fullscreen) {
        scene.render.resolutionIndex = editResolution;
        ResizeTo(scene, kResolutions[editResolution], gpu);
    }
    if (antiAliasingChanged) {
        scene.render.antiAliasing =
            std::clamp<std::int32_t>(ui.editAntiAliasing, kAntiAliasingNone, kMsaa8x);
        scene.render.antiAliasingMode = scene.render.antiAliasing;
    }
    if (rayTracingChanged) {
        scene.render.rayTracing = ui.editRayTracing && scene.render.rayTracingAvailable;
        if (scene.render.rayTracing) {
            scene.render.rebuildAccelerationStructures = true;
        }
    }
    if (scene.render.rayTracing) {
        if (diffuseChanged) {
            scene.render.diffuseQuality = std::clamp(ui.editDiffuseQuality, 0, 3);
            scene.render.diffuseSamples = SamplesForQuality(scene.render.diffuseQuality);
        }
        if (shadowChanged) {
            scene.render.shadowQuality = std::clamp(ui.editShadowQuality, 0, 3);
            scene.render.shadowSamples = SamplesForQuality(scene.render.shadowQuality);
        }
    }
    if (vsyncChanged) {
        if (hooks.setVsync) {
            hooks.setVsync(ui.editVSync);
        }
        // The frame pacing changes, and with it the time the accumulator saw.
        scene.physics->accumulator = 0.0f;
    }
    if (fullscreenChanged) {
        const bool switched = hooks.setFullscreen ? hooks.setFullscreen(ui.editFullscreen) : false;
        if (switched) {
            scene.render.fullscreen = ui.editFullscreen;
        }
        if (switched && scene.render.fullscreen) {
            const Resolution desktop =
                hooks.desktopSize ? hooks.desktopSize()
                                  : Resolution{scene.render.renderWidth, scene.render.renderHeight};
            if (desktop.width != scene.render.renderWidth ||
                desktop.height != scene.render.renderHeight) {
                ResizeTo(scene, desktop, gpu);
            }
        } else {
            if (resolutionChanged) {
                scene.render.resolutionIndex = editResolution;
            }
            ResizeTo(scene, kResolutions[scene.render.resolutionIndex], gpu);
        }
    }
    scene.render.showStatistics = ui.editShowStatistics;
    scene.render.groundShadow = ui.editGroundShadow;
    ui.showStatistics = ui.editShowStatistics;
}

// An index of a request whose entry a removal earlier in the queue took:
// the request is dropped rather than applied to the entry that moved up.
constexpr std::int32_t kRemovedEntry = -2;

// The kinds of request that name an entry of the same list as `removal`.
bool NamesSameList(RequestKind removal, RequestKind kind) {
    switch (removal) {
        case RequestKind::DeleteModel:
            return kind == RequestKind::DeleteModel || kind == RequestKind::SelectModel ||
                   kind == RequestKind::SwitchPhysics;
        case RequestKind::DeleteMotion:
            return kind == RequestKind::DeleteMotion || kind == RequestKind::ChooseCameraMotion;
        case RequestKind::DeleteSong:
            return kind == RequestKind::DeleteSong || kind == RequestKind::SelectSong;
        case RequestKind::DeleteShader:
            return kind == RequestKind::DeleteShader || kind == RequestKind::ChooseDefaultShader;
        case RequestKind::DeleteAccessory:
            return kind == RequestKind::DeleteAccessory;
        default:
            return false;
    }
}

// After a removal, the requests still waiting name their entries as the
// interface saw them, before the list closed up.
void ShiftPending(std::vector<SceneRequest>& requests, std::size_t done,
                  const SceneRequest& removal) {
    for (std::size_t k = done + 1; k < requests.size(); ++k) {
        SceneRequest& request = requests.at(k);  // a wrong bound throws rather than reads past
        if (NamesSameList(removal.kind, request.kind) && request.index >= 0) {
            Shift(request.index, removal.index, kRemovedEntry);
        }
    }
}

void SwitchModelPhysics(Scene& scene, std::int32_t row, bool on) {
    if (!InRange(row, scene.models.size())) {
        return;
    }
    std::unique_lock writing(scene.physics->lock);
    scene.models[row].entry.physicsOn = on;
    SetPhysicsEnabled(*scene.models[row].instance, on);
}

void ApplyShaderChoice(Scene& scene, const ModelSettingState& modelSetting, GpuIdle& gpu) {
    ModelRecord* bound = BoundModel(scene, modelSetting);
    if (bound == nullptr || modelSetting.materialIndex < 0 ||
        !InRange(modelSetting.shaderSelectIndex, scene.shaders.size())) {
        return;
    }
    gpu.Wait();
    if (scene.hooks.applyShader) {
        scene.hooks.applyShader(*bound->instance, modelSetting.materialIndex,
                                modelSetting.shaderSelectIndex);
    }
}

void ApplyPhysicsEdits(Scene& scene, const UiState& ui) {
    scene.physics->gravitySetting = ui.editGravity;
    scene.physics->stepSetting = ui.editStepTime;
    scene.physics->settingsSaved = true;
}

// The removals; true when the request took an entry out of its list.
bool CarryOutRemoval(Scene& scene, const SceneRequest& request, ModelSettingState& modelSetting,
                     GpuIdle& gpu) {
    const std::int32_t i = request.index;
    switch (request.kind) {
        case RequestKind::DeleteModel:
            return RemoveModel(scene, i, modelSetting, gpu);
        case RequestKind::DeleteMotion:
            return RemoveMotion(scene, i, modelSetting);
        case RequestKind::DeleteSong:
            return RemoveSong(scene, i);
        case RequestKind::DeleteShader:
            return RemoveShader(scene, i, modelSetting);
        case RequestKind::DeleteAccessory:
            if (!InRange(i, scene.accessories.size())) {
                return false;
            }
            gpu.Wait();
            if (scene.render.rayTracing) {
                scene.render.rebuildAccelerationStructures = true;
            }
            return RemoveAccessory(scene, i);
        default:
            return false;
    }
}

void CarryOut(Scene& scene, UiState& ui, const SceneRequest& request,
              ModelSettingState& modelSetting, GpuIdle& gpu) {
    const std::int32_t i = request.index;
    switch (request.kind) {
        case RequestKind::SelectModel:
            if (InRange(i, scene.models.size())) {
                scene.models[i].entry.selected = request.on;
            }
            break;
        case RequestKind::SwitchPhysics:
            SwitchModelPhysics(scene, i, request.on);
            break;
        case RequestKind::ApplyShader:
            ApplyShaderChoice(scene, modelSetting, gpu);
            break;
        case RequestKind::ApplyGraphics:
            ApplyGraphicsSettings(scene, ui, gpu);
            break;
        case RequestKind::ApplyPhysics:
            ApplyPhysicsEdits(scene, ui);
            break;
        case RequestKind::PressPlay:
            PressPlay(scene);
            break;
        case RequestKind::StopAndReset:
            StopAndReset(scene);
            break;
        case RequestKind::SelectSong:
            if (i >= 0) {
                SelectSong(scene, i);
            }
            break;
        case RequestKind::ChooseCameraMotion:
            if (i == -1 || InRange(i, scene.motions.size())) {
                scene.stage.cameraMotion = i;
            }
            break;
        case RequestKind::ChooseDefaultShader:
            if (InRange(i, scene.shaders.size())) {
                scene.defaultShader = i;
            }
            break;
        case RequestKind::ChooseRayTracingShader:
            if (InRange(i, scene.render.rayTracingShaderNames.size())) {
                scene.render.selectedRayTracingShader = i;
            }
            break;
        case RequestKind::Seek:
            SeekPlayback(scene, request.seconds, request.settle);
            break;
        case RequestKind::SwitchLoop:
            scene.playback.loop = request.on;
            break;
        case RequestKind::ResetView:
            FrameModels(scene.stage.camera, scene);
            break;
        default:
            break;
    }
}

bool LaterSeekWaits(const std::vector<SceneRequest>& requests, std::size_t k) {
    return std::any_of(requests.begin() + static_cast<std::ptrdiff_t>(k) + 1, requests.end(),
                       [](const SceneRequest& r) { return r.kind == RequestKind::Seek; });
}

}  // namespace

const ModelRecord* ModelAtRow(const Scene& scene, std::int32_t row, const ModelInstance* model) {
    if (model == nullptr || !InRange(row, scene.models.size()) ||
        scene.models[row].instance.get() != model) {
        return nullptr;
    }
    return &scene.models[row];
}

ModelRecord* ModelAtRow(Scene& scene, std::int32_t row, const ModelInstance* model) {
    return const_cast<ModelRecord*>(ModelAtRow(std::as_const(scene), row, model));
}

const ModelRecord* BoundModel(const Scene& scene, const ModelSettingState& modelSetting) {
    return ModelAtRow(scene, modelSetting.modelRow, modelSetting.model);
}

ModelRecord* BoundModel(Scene& scene, const ModelSettingState& modelSetting) {
    return const_cast<ModelRecord*>(BoundModel(std::as_const(scene), modelSetting));
}

void CarryOutRequests(Scene& scene, UiState& ui, ModelSettingState& modelSetting, GpuIdle& gpu) {
    // Indexed: a removal shifts the requests after it.
    bool settleOwed = false;  // by a seek that a later one replaced
    for (std::size_t k = 0; k < ui.requests.size(); ++k) {
        SceneRequest request = ui.requests[k];
        if (request.kind == RequestKind::Seek) {
            if (LaterSeekWaits(ui.requests, k)) {
                settleOwed |= request.settle;
                continue;  // quick presses: settling for each would only cost time
            }
            request.settle |= settleOwed;
        }
        if (CarryOutRemoval(scene, request, modelSetting, gpu)) {
            ShiftPending(ui.requests, k, request);
        } else {
            CarryOut(scene, ui, request, modelSetting, gpu);
        }
    }
    ui.requests.clear();
}

}  // namespace qv
