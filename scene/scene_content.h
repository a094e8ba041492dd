// Everything loaded into the scene, in parallel lists kept in load order.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "formats/vmd_motion.h"
#include "platform/audio_engine.h"
#include "platform/result_code.h"
#include "runtime/model_instance.h"
#include "runtime/physics_world.h"
#include "scene/content_rows.h"
#include "scene/import_results.h"
#include "scene/import_worker.h"

namespace qv {

// The loaded content of the scene and the import that fills it. Lists are in
// load order and parallel: models with modelEntries, motions with
// motionNames, songs with songNames, shaderPrograms with shaderEntries.
struct SceneContent {
    SceneContent();
    // Gives every model's bodies back to the world before the world goes.
    ~SceneContent();
    SceneContent(const SceneContent&) = delete;
    SceneContent& operator=(const SceneContent&) = delete;

    std::vector<std::unique_ptr<ModelInstance>> models;
    std::vector<ModelUiEntry> modelEntries;
    std::vector<VmdMotion> motions;
    std::vector<std::string> motionNames;
    std::vector<std::unique_ptr<SoundEffect>> songs;
    std::vector<std::string> songNames;
    std::int32_t selectedSong = -1;
    std::unique_ptr<SoundEffectInstance> songInstance;
    std::vector<ShaderProgram> shaderPrograms;  // the two built-ins first
    std::vector<ShaderEntry> shaderEntries;
    std::int32_t defaultShader = 1;

    // The process-wide physics world every model's bodies live in.
    std::unique_ptr<PhysicsWorld> physics;

    // The GPU half of a new model, with its textures as the import left them.
    // With no renderer attached it succeeds and does nothing. A non-zero
    // result drops the model.
    std::function<HRESULT(ModelInstance&, const PmxModel&, ModelTextures&)> createModelResources;
    // Frees a removed model's GPU half; the GPU is idle when it is called.
    std::function<void(const ModelInstance&)> releaseModelResources;
    // Waits until no frame in flight can use GPU objects about to change.
    std::function<void()> waitForGpu;
};

// Moves a finished batch into the content lists on the main thread: builds
// each model's instance (with its bodies, under the physics write lock) and
// GPU half, adds motions, songs and shaders, and writes the summary with every
// failure into the import status. Call while worker.ResultsReady().
void CompleteImports(SceneContent& content, ImportWorker& worker);

}  // namespace qv
