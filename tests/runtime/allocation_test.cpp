// Counts heap allocations made while frames play. The global allocation
// functions are replaced in this executable only.

#include <atomic>
#include <cstdlib>
#include <new>

#include "tests/runtime/test_models.h"
#include "tests/support/content_path.h"

namespace {

std::atomic<long> g_allocations{0};

void* Allocate(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

}  // namespace

// Nothing here is over-aligned, so the plain and nothrow forms see every
// allocation (sorting takes its buffer through nothrow).
void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace qv {

namespace {

// Allocations made by played frames (with IK), extra solves and a backward
// seek, after a warm-up.
long AllocationsWhilePlaying(ModelInstance& instance, int frames) {
    instance.playing = 1;
    for (int frame = 0; frame < 5; ++frame) {
        UpdateModel(instance, 1.0f / 60);
    }
    const long before = g_allocations.load();
    for (int frame = 0; frame < frames; ++frame) {
        UpdateModel(instance, 1.0f / 60);
    }
    for (BoneState& bone : instance.bones) {
        SolveIk(bone);
    }
    instance.motion.time = 0.25f;
    EvaluateMotion(instance);
    return g_allocations.load() - before;
}

// The real model exercises everything a frame does: sampled curves, append
// blends, limited IK chains and morph weights.
TEST(Allocation, PlayedFramesAllocateNothing) {
    const long before = g_allocations.load();
    delete new int(1);
    ASSERT_EQ(g_allocations.load() - before, 1);  // the counter sees allocations

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
