// Runs a frame of the scene: requests, motions, physics and pose, song and camera.
#include "scene/scene.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "runtime/motion.h"
#include "runtime/physics_bodies.h"
#include "scene/camera_motion.h"

namespace qv {

Scene::Scene(std::unique_ptr<AudioEngine> audio)
    : audioEngine(std::move(audio)), importer(audioEngine.get()) {
    CreatePhysicsScene(physics);
}

Scene::~Scene() {
    // Sound objects refer to the engine, which goes before the content lists.
    songInstance.reset();
    songs.clear();
}

namespace {

// Waits for the GPU at most once a frame, and only when something asks for it.
class GpuIdle {
public:
    explicit GpuIdle(Scene& scene) : scene_(scene) {}
    void Wait() {
        if (!idle_ && scene_.waitForGpu) {
            scene_.waitForGpu();
        }
        idle_ = true;
    }
    void MarkIdle() { idle_ = true; }

private:
    Scene& scene_;
    bool idle_ = false;
};

bool InRange(std::int32_t index, std::size_t size) {
    return index >= 0 && static_cast<std::size_t>(index) < size;
}

// Keeps an index into a list right when entry `removed` leaves it.
void Shift(std::int32_t& index, std::int32_t removed, std::int32_t whenRemoved) {
    if (index == removed) {
        index = whenRemoved;
    } else if (index > removed) {
        --index;
    }
}

void RemoveModel(Scene& scene, std::int32_t i, ModelSettingState& modelSetting, GpuIdle& gpu) {
    if (!InRange(i, scene.models.size())) {
        return;
    }
    std::unique_lock writing(scene.physics->lock);
    gpu.Wait();
    modelSetting.Clear();
    ReleaseBodies(*scene.models[i], *scene.physics);
    if (scene.releaseModelResources) {
        scene.releaseModelResources(*scene.models[i]);
    }
    scene.models.erase(scene.models.begin() + i);
    scene.modelEntries.erase(scene.modelEntries.begin() + i);
    if (scene.rayTracing) {
        scene.rebuildAccelerationStructures = true;
    }
}

void RemoveMotion(Scene& scene, std::int32_t i, ModelSettingState& modelSetting) {
    if (!InRange(i, scene.motions.size())) {
        return;
    }
    scene.motions.erase(scene.motions.begin() + i);
    scene.motionNames.erase(scene.motionNames.begin() + i);
    Shift(modelSetting.motionSelectIndex, i, -1);
    Shift(scene.cameraMotion, i, -1);
    scene.sortedStageMotion = -1;
}

void RemoveSong(Scene& scene, std::int32_t i) {
    if (!InRange(i, scene.songs.size())) {
        return;
    }
    if (scene.selectedSong == i) {
        scene.songInstance.reset();  // the instance goes before its effect
    }
    Shift(scene.selectedSong, i, -1);
    scene.songs.erase(scene.songs.begin() + i);
    scene.songNames.erase(scene.songNames.begin() + i);
}

void RemoveShader(Scene& scene, std::int32_t i, ModelSettingState& modelSetting) {
    if (!InRange(i, scene.shaderPrograms.size()) || scene.shaderEntries[i].builtIn) {
        return;  // built-in programs stay
    }
    scene.shaderPrograms.erase(scene.shaderPrograms.begin() + i);
    scene.shaderEntries.erase(scene.shaderEntries.begin() + i);
    Shift(modelSetting.shaderSelectIndex, i, -1);
    // Without its chosen program, new models get the toon shader again.
    Shift(scene.defaultShader, i, 1);
}

void ResizeTo(Scene& scene, Resolution size, GpuIdle& gpu) {
    gpu.Wait();
    scene.renderWidth = size.width;
    scene.renderHeight = size.height;
    // The projection follows the new aspect ratio from the next frame on.
    SetCameraViewport(scene.camera, size.width, size.height);
    if (scene.hooks.resize) {
        scene.hooks.resize(size.width, size.height);
    }
}

void ApplyGraphicsSettings(Scene& scene, UiState& ui, GpuIdle& gpu) {
    SceneHooks& hooks = scene.hooks;
    const std::int32_t editResolution =
        std::clamp(ui.editResolutionIndex, 0, static_cast<std::int32_t>(kResolutions.size()) - 1);
    const bool resolutionChanged = editResolution != scene.resolutionIndex;
    const bool antiAliasingChanged = ui.editAntiAliasing != scene.antiAliasing;
    const bool rayTracingChanged = ui.editRayTracing != scene.rayTracing;
    const bool diffuseChanged = ui.editDiffuseQuality != scene.diffuseQuality;
    const bool shadowChanged = ui.editShadowQuality != scene.shadowQuality;
    const bool vsync = hooks.getVsync ? hooks.getVsync() : true;
    const bool vsyncChanged = ui.editVSync != vsync;
    const bool fullscreen = scene.fullscreen;
    const bool fullscreenChanged = ui.editFullscreen != fullscreen;

    if (resolutionChanged && !fullscreenChanged && !fullscreen) {
        scene.resolutionIndex = editResolution;
        ResizeTo(scene, kResolutions[editResolution], gpu);
    }
    if (antiAliasingChanged) {
        scene.antiAliasing =
            std::clamp<std::int32_t>(ui.editAntiAliasing, kAntiAliasingNone, kMsaa8x);
        scene.antiAliasingMode = scene.antiAliasing;
    }
    if (rayTracingChanged) {
        scene.rayTracing = ui.editRayTracing && scene.rayTracingAvailable;
        if (scene.rayTracing) {
            scene.rebuildAccelerationStructures = true;
        }
    }
    if (scene.rayTracing) {
        if (diffuseChanged) {
            scene.diffuseQuality = std::clamp(ui.editDiffuseQuality, 0, 3);
            scene.diffuseSamples = SamplesForQuality(scene.diffuseQuality);
        }
        if (shadowChanged) {
            scene.shadowQuality = std::clamp(ui.editShadowQuality, 0, 3);
            scene.shadowSamples = SamplesForQuality(scene.shadowQuality);
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
            scene.fullscreen = ui.editFullscreen;
        }
        if (switched && scene.fullscreen) {
            const Resolution desktop = hooks.desktopSize
                                           ? hooks.desktopSize()
                                           : Resolution{scene.renderWidth, scene.renderHeight};
            if (desktop.width != scene.renderWidth || desktop.height != scene.renderHeight) {
                ResizeTo(scene, desktop, gpu);
            }
        } else {
            if (resolutionChanged) {
                scene.resolutionIndex = editResolution;
            }
            ResizeTo(scene, kResolutions[scene.resolutionIndex], gpu);
        }
    }
    scene.showStatistics = ui.editShowStatistics;
    scene.groundShadow = ui.editGroundShadow;
    ui.showStatistics = ui.editShowStatistics;
}

}  // namespace

namespace {

// Everything of a stop but the rewind: the state, the label, the song and
// the models' playing flags, none of which the scene stage reads.
void StopPlayback(Scene& scene) {
    scene.playState = PlayState::Stopped;
    scene.stageMotionTime = 0.0f;
    scene.playLabel = "Play";
    if (scene.songInstance) {
        scene.songInstance->Stop(true);
    }
    for (auto& model : scene.models) {
        model->playing = 0;
    }
}

void RewindModels(Scene& scene) {
    for (auto& model : scene.models) {
        RewindMotion(*model);
    }
}

// A fresh instance of the song at `index`; false when there is no such song.
bool ReplaceSongInstance(Scene& scene, std::int32_t index) {
    if (!InRange(index, scene.songs.size())) {
        return false;
    }
    scene.songInstance.reset();
    scene.selectedSong = index;
    scene.songInstance = scene.songs[index]->CreateInstance();
    return true;
}

}  // namespace

std::uint32_t SamplesForQuality(std::int32_t quality) {
    return 4u * static_cast<std::uint32_t>(std::clamp(quality, 0, 3) + 1);
}

void UpdateScene(Scene& scene, UiState& ui, ModelSettingState& modelSetting, float dt) {
    GpuIdle gpu(scene);
    // 1. Time.
    scene.elapsedTime += dt;
    // 2. A finished import batch.
    if (scene.importer.ResultsReady()) {
        if (scene.importer.showImportStatus.exchange(false)) {
            ui.showImportStatus = true;
        }
        const bool bringsModels = !scene.importer.PendingResults().models.empty();
        const std::size_t modelsBefore = scene.models.size();
        CompleteImports(scene, scene.importer);
        if (scene.rayTracing && scene.models.size() != modelsBefore) {
            scene.rebuildAccelerationStructures = true;
        }
        if (bringsModels) {
            gpu.MarkIdle();  // the batch waited for the GPU before its first model
        }
    } else if (scene.importer.showImportStatus.exchange(false)) {
        ui.showImportStatus = true;
    }
    // The model setting window's edits of the frame just drawn, before a
    // removal could unbind the model or shift the motion they name.
    if (modelSetting.model != nullptr) {
        ApplyModelEdits(*modelSetting.model, scene, modelSetting.edits, scene.hooks.writeMaterial);
    }
    modelSetting.edits.clear();
    // 3. and 4. Removals.
    if (ui.deleteModelIndex >= 0) {
        RemoveModel(scene, ui.deleteModelIndex, modelSetting, gpu);
        ui.deleteModelIndex = -1;
    }
    if (ui.deleteMotionIndex >= 0) {
        RemoveMotion(scene, ui.deleteMotionIndex, modelSetting);
        ui.deleteMotionIndex = -1;
    }
    if (ui.deleteSongIndex >= 0) {
        RemoveSong(scene, ui.deleteSongIndex);
        ui.deleteSongIndex = -1;
    }
    if (ui.deleteShaderIndex >= 0) {
        RemoveShader(scene, ui.deleteShaderIndex, modelSetting);
        ui.deleteShaderIndex = -1;
    }
    // A stop from the interface: the rewind poses every skeleton, so it waits
    // for this point, where no stage reads them.
    if (ui.rewindRequested) {
        RewindModels(scene);
        ui.rewindRequested = false;
    }
    // 5. A model's physics switch.
    if (ui.physicsToggledIndex >= 0) {
        const std::int32_t row = ui.physicsToggledIndex;
        if (InRange(row, scene.models.size())) {
            std::unique_lock writing(scene.physics->lock);
            SetPhysicsEnabled(*scene.models[row], scene.modelEntries[row].physicsOn);
        }
        ui.physicsToggledIndex = -1;
    }
    // 6. A material's new shader.
    if (ui.applyShaderRequested) {
        if (modelSetting.model != nullptr && modelSetting.materialIndex >= 0 &&
            InRange(modelSetting.shaderSelectIndex, scene.shaderPrograms.size())) {
            gpu.Wait();
            if (scene.hooks.applyShader) {
                scene.hooks.applyShader(*modelSetting.model, modelSetting.materialIndex,
                                        modelSetting.shaderSelectIndex);
            }
        }
        ui.applyShaderRequested = false;
    }
    // 7. Graphics settings.
    if (ui.applyGraphicsRequested) {
        ApplyGraphicsSettings(scene, ui, gpu);
        ui.applyGraphicsRequested = false;
    }
    // 8. Ray-tracing structures.
    if (scene.rebuildAccelerationStructures) {
        gpu.Wait();
        const bool built = scene.hooks.rebuildAccelerationStructures &&
                           scene.hooks.rebuildAccelerationStructures();
        if (!built) {
            scene.rayTracing = false;  // the frame goes on rasterised
        }
        scene.rebuildAccelerationStructures = false;
    }
    // 9. Physics settings, once saved.
    if (ui.applyPhysicsRequested) {
        scene.physics->gravitySetting = ui.editGravity;
        scene.physics->stepSetting = ui.editStepTime;
        scene.physics->settingsSaved = true;
        ui.applyPhysicsRequested = false;
    }
    ApplyPhysicsSettings(*scene.physics);
    // 10. to 12. Physics, audio, every model.
    StepPhysics(*scene.physics, dt);
    if (scene.audioEngine) {
        scene.audioEngine->Update();
    }
    for (auto& model : scene.models) {
        UpdateModel(*model, dt);
    }
    // 13. Camera, light and self-shadow of the camera motion.
    UpdateStageMotion(scene, dt);
}

std::int32_t PickCameraMotion(const Scene& scene) {
    for (std::size_t i = 0; i < scene.motions.size(); ++i) {
        if (!scene.motions[i].cameraKeys.empty()) {
            return static_cast<std::int32_t>(i);
        }
    }
    return -1;
}

void UpdateStageMotion(Scene& scene, float dt) {
    const bool chosen = InRange(scene.cameraMotion, scene.motions.size());
    if (!chosen || scene.playState == PlayState::Stopped) {
        if (scene.cameraDrivenByMotion) {
            UpdateCamera(scene.camera);  // the orbit camera, where the user left it
        }
        scene.cameraDrivenByMotion = false;
        scene.motionLightActive = false;
        scene.motionShadowActive = false;
        if (!chosen) {
            scene.sortedStageMotion = -1;
        }
        return;
    }
    if (scene.sortedStageMotion != scene.cameraMotion) {
        const VmdMotion& motion = scene.motions[scene.cameraMotion];
        scene.sortedCameraKeys = SortedByFrame(motion.cameraKeys);
        scene.sortedLightKeys = SortedByFrame(motion.lightKeys);
        scene.sortedShadowKeys = SortedByFrame(motion.shadowKeys);
        scene.sortedStageMotion = scene.cameraMotion;
    }
    if (scene.playState == PlayState::Playing && std::isfinite(dt)) {
        scene.stageMotionTime += dt;
    }
    const float frame = scene.stageMotionTime * 30.0f;
    CameraMotionPose pose;
    scene.cameraDrivenByMotion = EvaluateCameraKeys(scene.sortedCameraKeys, frame, &pose);
    if (scene.cameraDrivenByMotion) {
        ApplyCameraPose(scene.camera, pose);
    }
    scene.motionLightActive = EvaluateLightKeys(
        scene.sortedLightKeys, frame, &scene.motionLightColor, &scene.motionLightDirection);
    VmdShadowKey shadow;
    scene.motionShadowActive = EvaluateShadowKeys(scene.sortedShadowKeys, frame, &shadow);
    scene.motionShadowMode = shadow.mode;
    scene.motionShadowDistance = shadow.distance;
}

void PressPlay(Scene& scene) {
    const bool start = scene.playState != PlayState::Playing;
    scene.playState = start ? PlayState::Playing : PlayState::Paused;
    scene.playLabel = start ? "Pause" : "Play";
    if (scene.songInstance) {
        if (start) {
            scene.songInstance->Play(false);
        } else {
            scene.songInstance->Pause();
        }
    }
    for (auto& model : scene.models) {
        model->playing = start ? 1 : 0;
    }
}

void StopAndReset(Scene& scene) {
    StopPlayback(scene);
    RewindModels(scene);
}

void SelectSong(Scene& scene, std::int32_t index) {
    if (ReplaceSongInstance(scene, index)) {
        StopAndReset(scene);
    }
}

void StopAndReset(Scene& scene, UiState& ui) {
    StopPlayback(scene);
    ui.rewindRequested = true;
}

void SelectSong(Scene& scene, UiState& ui, std::int32_t index) {
    if (ReplaceSongInstance(scene, index)) {
        StopAndReset(scene, ui);
    }
}

}  // namespace qv
