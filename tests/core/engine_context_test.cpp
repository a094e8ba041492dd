// The shared engine state must survive bad indices and give sane frame timing.
#include <gtest/gtest.h>

#include "core/engine_context.h"

namespace qv {

namespace {

// Every out-of-range access must read as empty and store nothing, with the
// lock on and off.
void CheckOutOfRangeAccess(EngineContext& ctx) {
    ctx.SetDirectFenceValue(3, 7);
    ctx.SetComputeFenceValue(3, 7);
    EXPECT_EQ(ctx.GetDirectFenceValue(3), 0u);
    EXPECT_EQ(ctx.GetComputeFenceValue(3), 0u);
    for (std::uint32_t i = 0; i < kFrameCount; ++i) {
        EXPECT_EQ(ctx.GetDirectFenceValue(i), 0u);
    }
    ctx.SetBackBuffer(3, BackBuffer{reinterpret_cast<VkImage>(1), VK_NULL_HANDLE,
                                    VK_FORMAT_R8G8B8A8_UNORM, VK_IMAGE_LAYOUT_UNDEFINED, 1, 1});
    ctx.SetFrameIndex(0);
    EXPECT_EQ(ctx.GetCurrentBackBuffer().image, VK_NULL_HANDLE);

    ctx.SetDirectFenceValue(2, 9);
    EXPECT_EQ(ctx.GetDirectFenceValue(2), 9u);

    // No stages yet: every stage index is out of range.
    ctx.SetDirectList(0, reinterpret_cast<VkCommandBuffer>(1));
    EXPECT_EQ(ctx.GetDirectList(0), VK_NULL_HANDLE);
    EXPECT_EQ(ctx.GetStartEvent(StageKind::CommandList, 0), nullptr);
    ctx.SetStartEvent(StageKind::Overlay, 0, std::make_unique<AutoResetEvent>());
    EXPECT_EQ(ctx.GetStartEvent(StageKind::Overlay, 0), nullptr);
    EXPECT_EQ(ctx.GetStageCount(static_cast<StageKind>(2)), 0u);
    EXPECT_EQ(ctx.GetDoneEvent(static_cast<StageKind>(2), 0), nullptr);

    ctx.SetFrameTime(60, 5.0f);
    ctx.SetVsync(false);
    EXPECT_FALSE(ctx.GetVsync());
}

TEST(EngineContextTest, OutOfRangeIndicesReadEmptyAndStoreNothing) {
    EngineContext ctx;
    ctx.Initialize();
    CheckOutOfRangeAccess(ctx);
}

TEST(EngineContextTest, EveryAccessorWorksWithLockingDisabled) {
    EngineContext ctx;
    ctx.Initialize();
    ctx.SetLockingEnabled(false);
    CheckOutOfRangeAccess(ctx);
}

TEST(EngineContextTest, InitialisationSetsTheDefaults) {
    EngineContext ctx;
    ctx.Initialize();
    EXPECT_EQ(ctx.GetTitle(), "QV Graphics Framework");
    EXPECT_TRUE(ctx.GetVsync());
    EXPECT_FALSE(ctx.GetFullscreen());
    EXPECT_FALSE(ctx.GetDeviceCreated());
    EXPECT_FALSE(ctx.GetWindowCreated());
    EXPECT_EQ(ctx.GetFrameIndex(), 0u);
    ctx.Locked([](EngineState& s) { EXPECT_EQ(s.maxDelta, s.counterFrequency / 10); });
}

TEST(EngineContextTest, FrameTimeIsClampedToATenthOfASecond) {
    EngineContext ctx;
    ctx.Initialize();
    const auto [frequency, last] = ctx.Locked([](EngineState& s) {
        return std::pair{s.counterFrequency, s.lastCounter};
    });
    ctx.UpdateFrameTimingAt(last + frequency / 4);  // a 0.25 s stall
    EXPECT_EQ(ctx.GetElapsedSeconds(), 0.1f);
    EXPECT_EQ(ctx.GetFrameSeconds(), 0.1f);

    // A counter that went backwards is huge as an unsigned delta: clamped too.
    ctx.UpdateFrameTimingAt(last);
    EXPECT_EQ(ctx.GetElapsedSeconds(), 0.1f);
}

TEST(EngineContextTest, MeanCountsTheEmptySlotsOfTheFirstFrames) {
    EngineContext ctx;
    ctx.Initialize();
    auto [frequency, now] = ctx.Locked([](EngineState& s) {
        return std::pair{s.counterFrequency, s.lastCounter};
    });
    const std::int64_t step = frequency / 100;  // 10 ms frames
    now += step;
    ctx.UpdateFrameTimingAt(now);
    // One real frame of 10 ms among 59 zeros: 6000 frames per second reported.
    EXPECT_NEAR(ctx.GetFramesPerSecond(), 6000.0f, 1.0f);
    EXPECT_NEAR(ctx.GetMeanMilliseconds(), 10.0f / 60.0f, 1e-4f);
    for (int i = 1; i < 59; ++i) {
        now += step;
        ctx.UpdateFrameTimingAt(now);
    }
    EXPECT_GT(ctx.GetFramesPerSecond(), 100.5f);  // still one zero in the ring
    now += step;
    ctx.UpdateFrameTimingAt(now);
    EXPECT_NEAR(ctx.GetFramesPerSecond(), 100.0f, 0.01f);
    EXPECT_NEAR(ctx.GetMeanMilliseconds(), 10.0f, 1e-3f);
    ctx.Locked([](EngineState& s) { EXPECT_EQ(s.frameTimeIndex, 0u); });
}

TEST(EngineContextTest, InstanceIsCreatedOnceAndStaysGoneAfterDestroy) {
    EngineContext* first = EngineContext::Instance();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(EngineContext::Instance(), first);
    EXPECT_EQ(first->GetTitle(), "QV Graphics Framework");
    EngineContext::Destroy();
    EXPECT_EQ(EngineContext::Instance(), nullptr);
}

}  // namespace

}  // namespace qv
