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
#include "scene/accessory.h"
#include "scene/content_rows.h"
#include "scene/import_results.h"
#include "scene/import_worker.h"

namespace qv {

// One loaded model: its live instance and the row the windows show for it.
struct ModelRecord {
    std::unique_ptr<ModelInstance> instance;
    ModelUiEntry entry;
};

// One loaded motion and the file name it is listed under (UTF-8).
struct MotionRecord {
    VmdMotion motion;
    std::string name;
};

// One loaded song and the file name it is listed under (UTF-8).
struct SongRecord {
    std::unique_ptr<SoundEffect> sound;
    std::string name;
};

// One shader program and its row.
struct ShaderRecord {
    ShaderProgram program;
    ShaderEntry entry;
};

// The loaded content of the scene and the import that fills it: one list of
// records per kind, in load order, so a removal takes one entry out.
struct SceneContent {
    SceneContent();
    // Gives every model's bodies back to the world before the world goes.
    ~SceneContent();
    SceneContent(const SceneContent&) = delete;
    SceneContent& operator=(const SceneContent&) = delete;

    std::vector<ModelRecord> models;
    std::vector<MotionRecord> motions;
    std::vector<SongRecord> songs;
    std::vector<ShaderRecord> shaders;  // the two built-ins first
    std::vector<AccessoryRecord> accessories;
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
// GPU half, then each accessory's, adds motions, songs and shaders, and writes the summary with
// every failure into the import status. Call while worker.ResultsReady().
void CompleteImports(SceneContent& content, ImportWorker& worker);

// The names the windows list, in list order.
std::vector<std::string> MotionNames(const SceneContent& content);
std::vector<std::string> SongNames(const SceneContent& content);

}  // namespace qv
