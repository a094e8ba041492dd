// The scene and its per-frame update, with hooks to the engine that tests can leave out.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio_engine.h"
#include "runtime/pose_math.h"
#include "scene/anti_aliasing.h"
#include "scene/camera.h"
#include "scene/content_rows.h"
#include "scene/import_worker.h"
#include "scene/resolutions.h"
#include "scene/scene_content.h"
#include "scene/ui_state.h"

namespace qv {

// What the scene update asks of the engine and the renderer. Each is optional:
// a scene with none of them attached (tests, tools) still plays its content.
struct SceneHooks {
    std::function<bool()> getVsync;
    std::function<void(bool)> setVsync;
    // Switches borderless full screen; false when refused.
    std::function<bool(bool)> setFullscreen;
    // Size of the desktop the window is on, for full screen.
    std::function<Resolution()> desktopSize;
    // Resizes the render targets and swap chain.
    std::function<void(std::uint32_t, std::uint32_t)> resize;
    // Moves new models' uploads on without waiting; once a frame, from the
    // scene update.
    std::function<void()> advanceUploads;
    // Rebuilds the ray-tracing structures of every model; false on failure.
    std::function<bool()> rebuildAccelerationStructures;
    // Gives a model's material the pipelines of a shader program.
    std::function<void(ModelInstance&, std::int32_t material, std::int32_t shader)> applyShader;
    // The model's material names in material order (UTF-8); empty without
    // a renderer. Read by the interface stage: the answer must come from
    // records only the scene update changes.
    std::function<std::vector<std::string>(const ModelInstance&)> materialNames;
    // A material's editable values; false for an index out of range. Same
    // rule as materialNames.
    std::function<bool(const ModelInstance&, std::int32_t material, MaterialValues*)> readMaterial;
    // Stores a material's edited values for the frames from now on. Called
    // by the scene update only; out-of-range indices are ignored.
    std::function<void(ModelInstance&, std::int32_t material, const MaterialValues&)> writeMaterial;
};

// Song and motions playing together, and the clock the frames add up.
struct Playback {
    PlayState state = PlayState::Stopped;
    float elapsedTime = 0.0f;  // every frame's seconds since start
    // Where song, motions and camera motion stand, seconds: the song's play
    // position while it plays, else moved on by frame time while playing;
    // 0 after a stop. Only the scene update and its requests change it.
    double time = 0.0;
    // At the end everything starts again from 0 instead of holding.
    bool loop = false;
    std::int32_t selectedSong = -1;
    // The selected song's voice; it goes before the song it was made from.
    std::unique_ptr<SoundEffectInstance> songInstance;
};

// Where the scene is seen from: the camera, the camera motion that may drive
// it (with its light and self-shadow), and the left drag that turns models.
struct StageView {
    Camera camera;
    // The motion whose camera keys drive the camera while the scene plays or
    // is paused: an index into motions, -1 for none. The Resource manager's
    // motion tab asks for it; PickCameraMotion gives --play its choice. Its
    // light and self-shadow keys drive the light and the shadow as well.
    std::int32_t cameraMotion = -1;
    // The clock of those keys, seconds: runs while playing, 0 after a stop.
    float stageMotionTime = 0.0f;
    // Set while the camera motion holds the camera: the mouse leaves the
    // camera alone, and the orbit camera comes back once this clears.
    bool cameraDrivenByMotion = false;
    // The light and self-shadow as the camera motion's keys set them, while
    // it has such keys.
    bool motionLightActive = false;
    Vector4 motionLightColor;
    Vector4 motionLightDirection;
    bool motionShadowActive = false;
    std::uint8_t motionShadowMode = 0;
    float motionShadowDistance = 0.0f;
    // The camera motion's keys in time order, kept for the motion they came from.
    std::int32_t sortedStageMotion = -1;
    std::vector<VmdCameraKey> sortedCameraKeys;
    std::vector<VmdLightKey> sortedLightKeys;
    std::vector<VmdShadowKey> sortedShadowKeys;
    // The left drag that turns the selected models.
    bool leftDragging = false;
    CursorPosition leftDragCursor;
};

// How the frame is drawn and shown: size, anti-aliasing, ray tracing and
// what goes on screen besides the scene.
struct RenderSettings {
    std::int32_t resolutionIndex = 0;
    std::uint32_t renderWidth = 1280;
    std::uint32_t renderHeight = 720;
    std::int32_t antiAliasing = kMsaa4x;      // AntiAliasingMode, as chosen
    std::int32_t antiAliasingMode = kMsaa4x;  // AntiAliasingMode, as drawn
    bool rayTracing = false;
    bool rayTracingAvailable = false;
    // MSAA 8x stays in the list where the device lacks it, marked
    // unavailable; choosing it then draws as MSAA 4x.
    bool msaa8xAvailable = true;
    std::int32_t diffuseQuality = 0;
    std::int32_t shadowQuality = 0;
    std::uint32_t diffuseSamples = 4;
    std::uint32_t shadowSamples = 4;
    bool rebuildAccelerationStructures = false;
    bool showStatistics = true;
    bool fullscreen = false;
    // Materials that ask for it cast a shadow onto the ground plane.
    bool groundShadow = true;
    std::vector<std::string> rayTracingShaderNames = {"QV Raytracing shader(experimental)",
                                                      "QV Toon Raytracing shader"};
    std::int32_t selectedRayTracingShader = 1;
};

// The one process-wide object that owns everything loaded and how it plays.
// Built before the frames start, with the import thread running; changed only
// by UpdateScene on the main thread while no stage runs. The interface reads
// it and asks for changes through UiState.
struct Scene : SceneContent {
    explicit Scene(std::unique_ptr<AudioEngine> audio = nullptr);
    ~Scene();

    std::unique_ptr<AudioEngine> audioEngine;
    // Safe to call from any thread: the interface, to which the scene is
    // read-only, hands it files and clears its status.
    mutable ImportWorker importer;
    Playback playback;
    StageView stage;
    RenderSettings render;
    SceneHooks hooks;
};

// One frame of the scene on the main thread, dt being the frame's elapsed
// seconds: completes an import batch, carries out the interface's requests,
// applies saved settings, moves the play position on, takes the physics
// steps the frame's time holds with the models brought to each step's
// moment, updates the audio engine, and handles the end of the dance.
void UpdateScene(Scene& scene, UiState& ui, ModelSettingState& modelSetting, float dt);

// Ray-traced samples per pixel for a quality level, 0 "Low" to 3 "Ultra":
// 4, 8, 12 or 16 (levels outside are clamped).
std::uint32_t SamplesForQuality(std::int32_t quality);

// The play button: from Stopped or Paused to Playing (song and every model
// start, the song from the play position; paused at the end, from 0), from
// Playing to Paused (both pause, the song put where the motions are).
void PressPlay(Scene& scene);
// To Stopped from anywhere: the song stops at once and every motion rewinds.
void StopAndReset(Scene& scene);
// The first motion with camera keys, -1 when none has any: what --play plays
// as the camera motion.
std::int32_t PickCameraMotion(const Scene& scene);

// Moves the camera, light and self-shadow as the camera motion says at the
// scene's stage clock (stage.stageMotionTime, which the caller sets); gives
// the camera back to the orbit control once playback stops or the motion
// goes. The last step of UpdateScene.
void UpdateStageMotion(Scene& scene);

// Makes a song the selected one with a fresh instance, and stops and rewinds
// everything so that song and motions start together.
void SelectSong(Scene& scene, std::int32_t index);

}  // namespace qv
