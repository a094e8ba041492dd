// Counts heap allocations made while frames play, through the replaced allocation functions.

#include "tests/runtime/test_models.h"
#include "tests/support/content_path.h"
#include "tests/support/replaced_allocation.h"

namespace qv {

namespace {

// Allocations made by played frames (with IK), extra solves and a backward
// seek, after a warm-up.
long AllocationsWhilePlaying(ModelInstance& instance, int frames) {
    instance.playing = 1;
    for (int frame = 0; frame < 5; ++frame) {
        UpdateModel(instance, 1.0f / 60);
    }
    const long before = gAllocations.load();
    for (int frame = 0; frame < frames; ++frame) {
        UpdateModel(instance, 1.0f / 60);
    }
    for (BoneState& bone : instance.bones) {
        SolveIk(bone);
    }
    instance.motion.time = 0.25f;
    EvaluateMotion(instance);
    return gAllocations.load() - before;
}

// The real model exercises everything a frame does: sampled curves, append
// blends, limited IK chains and morph weights.
TEST(Allocation, PlayedFramesAllocateNothing) {
    const long before = gAllocations.load();
    int* volatile probe = new int(1);  // volatile: the compiler may not drop the pair
    delete probe;
    ASSERT_EQ(gAllocations.load() - before, 1);  // the counter sees allocations

    QV_REQUIRE_CONTENT();
    PmxModel model;
    VmdMotion motion;
    ASSERT_EQ(LoadPmxModel(model, ContentDir() / "gene" / "Gene_light.pmx"), S_OK);
    ASSERT_EQ(LoadVmdMotion(motion, ContentDir() / "gene" / "motion" / "stand.vmd"), S_OK);
    ModelInstance instance = MakeInstance(model);
    AttachMotion(instance, motion);
    EXPECT_EQ(AllocationsWhilePlaying(instance, 600), 0);
}

}  // namespace

}  // namespace qv
