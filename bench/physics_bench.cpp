// One played frame of Gene with physics: the fixed step and the pose update.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "formats/pmx_model.h"
#include "formats/vmd_motion.h"
#include "runtime/model_instance.h"
#include "runtime/motion.h"
#include "runtime/physics_bodies.h"
#include "runtime/physics_world.h"

namespace qv {

namespace {

void BM_GenePhysicsFrame(benchmark::State& state) {
    const std::filesystem::path content(QV_CONTENT_DIR);
    PmxModel model;
    VmdMotion motion;
    if (Failed(LoadPmxModel(model, content / "gene" / "Gene_light.pmx")) ||
        Failed(LoadVmdMotion(motion, content / "gene" / "motion" / "10_impressed.vmd"))) {
        state.SkipWithError("Gene content not found");
        return;
    }
    PhysicsWorld world;
    ModelInstance instance;
    CreateModelInstance(instance, model, &world);
    AttachMotion(instance, motion);
    instance.playing = 1;
    const float dt = 1.0f / 60.0f;
    for (auto _ : state) {
        if (instance.motion.time >= instance.motion.end) {
            RewindMotion(instance);
        }
        StepPhysics(world, dt);
        UpdateModel(instance, dt);
        benchmark::DoNotOptimize(instance.bones.data());
    }
    ReleaseBodies(instance, world);
}

}  // namespace

BENCHMARK(BM_GenePhysicsFrame)->Unit(benchmark::kMicrosecond);

}  // namespace qv
