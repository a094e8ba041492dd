// Runs a frame of the scene: requests, motions, physics and pose, song and camera.
#include "scene/scene.h"

#include <algorithm>
#include <cmath>

#include "runtime/motion.h"
#include "scene/camera_motion.h"
#include "scene/live_clock.h"
#include "scene/playback_clock.h"
#include "scene/scene_requests.h"

namespace qv {

Scene::Scene(std::unique_ptr<AudioEngine> audio)
    : audioEngine(std::move(audio)), importer(audioEngine.get()) {
    CreatePhysicsScene(physics);
}

Scene::~Scene() {
    // Sound objects refer to the engine, which goes before the content lists.
    playback.songInstance.reset();
    songs.clear();
}

namespace {

// Everything of a stop but the rewind: the state, the song and
// the models' playing flags, none of which the scene stage reads.
void StopPlayback(Scene& scene) {
    scene.playback.state = PlayState::Stopped;
    scene.playback.time = 0.0;
    scene.stage.stageMotionTime = 0.0f;
    if (scene.playback.songInstance) {
        scene.playback.songInstance->Stop(true);
    }
    for (auto& model : scene.models) {
        model.instance->playing = 0;
    }
}

void RewindModels(Scene& scene) {
    for (auto& model : scene.models) {
        RewindMotion(*model.instance);
    }
}

// A fresh instance of the song at `index`; false when there is no such song.
bool ReplaceSongInstance(Scene& scene, std::int32_t index) {
    if (!InRange(index, scene.songs.size())) {
        return false;
    }
    scene.playback.selectedSong = index;
    scene.playback.songInstance = scene.songs[index].sound->CreateInstance();
    return true;
}

}  // namespace

std::uint32_t SamplesForQuality(std::int32_t quality) {
    return 4u * static_cast<std::uint32_t>(std::clamp(quality, 0, 3) + 1);
}

void UpdateScene(Scene& scene, UiState& ui, ModelSettingState& modelSetting, float dt) {
    GpuIdle gpu(scene);
    // 1. Time.
    scene.playback.elapsedTime += dt;
    // 2. New models' uploads, then a finished import batch.
    if (scene.hooks.advanceUploads) {
        scene.hooks.advanceUploads();
    }
    if (scene.importer.ResultsReady()) {
        if (scene.importer.showImportStatus.exchange(false)) {
            ui.showImportStatus = true;
        }
        const std::size_t modelsBefore = scene.models.size() + scene.accessories.size();
        CompleteImports(scene, scene.importer);
        if (scene.render.rayTracing &&
            scene.models.size() + scene.accessories.size() != modelsBefore) {
            scene.render.rebuildAccelerationStructures = true;
        }
    } else if (scene.importer.showImportStatus.exchange(false)) {
        ui.showImportStatus = true;
    }
    // The model setting window's edits of the frame just drawn, before a
    // removal could unbind the model or shift the motion they name: first
    // those for models it was bound to earlier in the frame.
    for (const EarlierModelEdits& earlier : modelSetting.earlierEdits) {
        if (ModelRecord* record = ModelAtRow(scene, earlier.modelRow, earlier.model)) {
            ApplyModelEdits(*record->instance, &record->entry, scene, earlier.edits,
                            scene.hooks.writeMaterial);
        }
    }
    modelSetting.earlierEdits.clear();
    if (ModelRecord* bound = BoundModel(scene, modelSetting); bound != nullptr) {
        ApplyModelEdits(*bound->instance, &bound->entry, scene, modelSetting.edits,
                        scene.hooks.writeMaterial);
    }
    modelSetting.edits.clear();
    ApplyAccessoryEdits(scene, ui.accessoryEdits);
    // 3. to 7. The interface's requests, in the order it made them.
    CarryOutRequests(scene, ui, modelSetting, gpu);
    // 8. Ray-tracing structures.
    if (scene.render.rebuildAccelerationStructures) {
        gpu.Wait();
        const bool built = scene.hooks.rebuildAccelerationStructures &&
                           scene.hooks.rebuildAccelerationStructures();
        if (!built) {
            scene.render.rayTracing = false;  // the frame goes on rasterised
        }
        scene.render.rebuildAccelerationStructures = false;
    }
    // 9. Physics settings, once saved.
    ApplyPhysicsSettings(*scene.physics);
    // 10. to 12. The play position, audio, physics and every model.
    const double motionSeconds = AdvancePlayback(scene, dt);
    if (scene.audioEngine) {
        scene.audioEngine->Update();
    }
    AdvanceLiveFrame(scene, dt, static_cast<float>(motionSeconds));
    FinishPlaybackFrame(scene);
    // Accessories follow their bones where physics and the frame's end left them.
    UpdateAccessories(scene);
    // 13. Camera, light and self-shadow of the camera motion, at the same time.
    if (scene.playback.state != PlayState::Stopped) {
        scene.stage.stageMotionTime = static_cast<float>(scene.playback.time);
    }
    UpdateStageMotion(scene);
}

std::int32_t PickCameraMotion(const Scene& scene) {
    for (std::size_t i = 0; i < scene.motions.size(); ++i) {
        if (!scene.motions[i].motion.cameraKeys.empty()) {
            return static_cast<std::int32_t>(i);
        }
    }
    return -1;
}

void UpdateStageMotion(Scene& scene) {
    const bool chosen = InRange(scene.stage.cameraMotion, scene.motions.size());
    if (!chosen || scene.playback.state == PlayState::Stopped) {
        if (scene.stage.cameraDrivenByMotion) {
            UpdateCamera(scene.stage.camera);  // the orbit camera, where the user left it
        }
        scene.stage.cameraDrivenByMotion = false;
        scene.stage.motionLightActive = false;
        scene.stage.motionShadowActive = false;
        if (!chosen) {
            scene.stage.sortedStageMotion = -1;
        }
        return;
    }
    if (scene.stage.sortedStageMotion != scene.stage.cameraMotion) {
        const VmdMotion& motion = scene.motions[scene.stage.cameraMotion].motion;
        scene.stage.sortedCameraKeys = SortedByFrame(motion.cameraKeys);
        scene.stage.sortedLightKeys = SortedByFrame(motion.lightKeys);
        scene.stage.sortedShadowKeys = SortedByFrame(motion.shadowKeys);
        scene.stage.sortedStageMotion = scene.stage.cameraMotion;
    }
    const float frame = scene.stage.stageMotionTime * 30.0f;
    CameraMotionPose pose;
    scene.stage.cameraDrivenByMotion =
        EvaluateCameraKeys(scene.stage.sortedCameraKeys, frame, &pose);
    if (scene.stage.cameraDrivenByMotion) {
        ApplyCameraPose(scene.stage.camera, pose);
    }
    scene.stage.motionLightActive =
        EvaluateLightKeys(scene.stage.sortedLightKeys, frame, &scene.stage.motionLightColor,
                          &scene.stage.motionLightDirection);
    VmdShadowKey shadow;
    scene.stage.motionShadowActive =
        EvaluateShadowKeys(scene.stage.sortedShadowKeys, frame, &shadow);
    scene.stage.motionShadowMode = shadow.mode;
    scene.stage.motionShadowDistance = shadow.distance;
}

void PressPlay(Scene& scene) {
    Playback& playback = scene.playback;
    const bool start = playback.state != PlayState::Playing;
    if (start && playback.state == PlayState::Paused) {
        const double length = PlaybackLength(scene);
        if (length > 0.0 && playback.time >= length) {
            SeekPlayback(scene, 0.0);  // played to the end: from the start again
        }
    }
    playback.state = start ? PlayState::Playing : PlayState::Paused;
    if (SoundEffectInstance* song = playback.songInstance.get()) {
        if (start && playback.time < song->DurationSeconds()) {
            // From where the motions are: a song shorter than the dance
            // stays silent once the dance has passed its end.
            song->SetPositionSeconds(playback.time);
            song->Play(false);
        } else if (!start && song->GetState() == SoundState::Playing) {
            song->Pause();
            song->SetPositionSeconds(playback.time);
        }
    }
    for (auto& model : scene.models) {
        model.instance->playing = start ? 1 : 0;
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

}  // namespace qv
