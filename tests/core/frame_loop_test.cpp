// A frame must start and await its stages in step, and teardown must never hang.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/frame_loop.h"
#include "core/gpu_device.h"
#include "core/presenter.h"

namespace qv {

namespace {

// Runs f on another thread and reports whether it finished in time, so a
// hang fails the test instead of stalling the suite. The thread is left
// behind on a time-out.
template <class F>
bool FinishesWithin(F f, std::chrono::seconds limit) {
    auto finished = std::make_shared<std::promise<void>>();
    auto result = finished->get_future();
    std::thread([f, finished]() mutable {
        f();
        finished->set_value();
    }).detach();
    return result.wait_for(limit) == std::future_status::ready;
}

TEST(AddStageTest, RejectsBadArgumentsAndChangesNothing) {
    EngineContext ctx;
    ctx.Initialize();
    EXPECT_EQ(AddStage(ctx, nullptr, StageKind::CommandList), E_INVALIDARG);
    EXPECT_EQ(AddStage(ctx, IdleStage, 2u), E_INVALIDARG);
    EXPECT_EQ(ctx.GetStageCount(StageKind::CommandList), 0u);
    EXPECT_EQ(ctx.GetStageCount(StageKind::Overlay), 0u);

    ASSERT_EQ(AddStage(ctx, IdleStage, StageKind::Overlay), S_OK);
    ASSERT_EQ(AddStage(ctx, IdleStage, 1u), S_OK);
    ctx.Locked([](EngineState& s) {
        ASSERT_EQ(s.stages[1].descriptors.size(), 2u);
        EXPECT_EQ(s.stages[1].descriptors[1].index, 1u);
        EXPECT_EQ(s.stages[1].descriptors[1].kind, 1u);
        EXPECT_TRUE(s.stages[1].directLists.empty());
        EXPECT_EQ(s.stages[1].startEvents.size(), 2u);
        EXPECT_EQ(s.stages[1].startEvents[0], nullptr);  // made with the device
    });
}

TEST(AddStageTest, AKindHoldsAtMost64Stages) {
    EngineContext ctx;
    ctx.Initialize();
    for (std::size_t i = 0; i < kMaxStagesPerKind; ++i) {
        ASSERT_EQ(AddStage(ctx, IdleStage, StageKind::CommandList), S_OK);
    }
    EXPECT_EQ(AddStage(ctx, IdleStage, StageKind::CommandList), E_INVALIDARG);
    EXPECT_EQ(ctx.GetStageCount(StageKind::CommandList), kMaxStagesPerKind);
    EXPECT_EQ(AddStage(ctx, IdleStage, StageKind::Overlay), S_OK);
}

TEST(StageThreadEntryTest, ReturnsAtOnceWithoutAFunction) {
    EngineContext ctx;
    ctx.Initialize();
    StageDescriptor badKind{0, 2};
    StageDescriptor missing{5, 0};
    EXPECT_EQ(StageThreadEntry(ctx, &badKind), 0u);
    EXPECT_EQ(StageThreadEntry(ctx, &missing), 0u);
    EXPECT_EQ(StageThreadEntry(ctx, nullptr), 0u);
}

// Records which frame each stage saw and checks that no stage ever runs while
// the frame update does.
struct LockStepProbe {
    std::atomic<bool> updating{false};
    std::atomic<int> frame{0};
    std::atomic<int> overlaps{0};
    std::mutex mutex;
    std::vector<std::pair<int, std::uint64_t>> seen;  // (frame, stage id)
};

StageFunction ProbeStage(LockStepProbe& probe) {
    return [&probe](EngineContext& ctx, std::uint64_t index, StageKind kind) {
        RunStageLoop(ctx, index, kind, [&] {
            if (probe.updating) {
                ++probe.overlaps;
            }
            // Stay a moment so a frame that did not wait would be caught.
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            std::lock_guard lock(probe.mutex);
            probe.seen.emplace_back(probe.frame.load(),
                                    index * 2 + static_cast<std::uint64_t>(kind));
        });
    };
}

TEST(RunFrameTest, StagesRunOnlyBetweenTheirStartAndDoneOfTheSameFrame) {
    EngineContext ctx;
    ctx.Initialize();
    LockStepProbe probe;
    for (StageKind kind :
         {StageKind::CommandList, StageKind::CommandList, StageKind::Overlay, StageKind::Overlay}) {
        ASSERT_EQ(AddStage(ctx, ProbeStage(probe), kind), S_OK);
    }
    ctx.Locked([&](EngineState& s) {
        s.onFrameUpdate = [&probe](EngineContext&) {
            probe.updating = true;
            ++probe.frame;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            probe.updating = false;
        };
    });
    ASSERT_EQ(StartStageThreads(ctx), S_OK);

    constexpr int kFrames = 40;
    ASSERT_TRUE(FinishesWithin(
        [&] {
            for (int i = 0; i < kFrames; ++i) {
                RunFrame(ctx);
                // After RunFrame every stage has reported this frame exactly once.
                std::lock_guard lock(probe.mutex);
                ASSERT_EQ(probe.seen.size(), static_cast<std::size_t>(4 * (i + 1)));
                for (std::size_t k = probe.seen.size() - 4; k < probe.seen.size(); ++k) {
                    EXPECT_EQ(probe.seen[k].first, i + 1);
                }
            }
        },
        std::chrono::seconds(30)));
    EXPECT_EQ(probe.overlaps.load(), 0);
    ASSERT_TRUE(FinishesWithin([&] { StopStageThreads(ctx); }, std::chrono::seconds(10)));
}

// A stage that only counts the frames that started it.
StageFunction CountingStage(std::atomic<int>& runs) {
    return [&runs](EngineContext& c, std::uint64_t i, StageKind k) {
        RunStageLoop(c, i, k, [&runs] { ++runs; });
    };
}

TEST(RunFrameTest, AKindWithoutStagesIsNeitherStartedNorAwaited) {
    EngineContext ctx;
    ctx.Initialize();
    std::atomic<int> runs{0};
    ASSERT_EQ(AddStage(ctx, CountingStage(runs), StageKind::CommandList), S_OK);
    ASSERT_EQ(StartStageThreads(ctx), S_OK);
    EXPECT_TRUE(FinishesWithin(
        [&] {
            for (int i = 0; i < 10; ++i) {
                RunFrame(ctx);
            }
        },
        std::chrono::seconds(10)));
    EXPECT_EQ(runs.load(), 10);
    StopStageThreads(ctx);
}

TEST(RunFrameTest, AStageAddedAfterTheThreadsStartedCannotHoldTheFrame) {
    EngineContext ctx;
    ctx.Initialize();
    ASSERT_EQ(AddStage(ctx, IdleStage, StageKind::Overlay), S_OK);
    ASSERT_EQ(StartStageThreads(ctx), S_OK);
    ASSERT_EQ(AddStage(ctx, IdleStage, StageKind::Overlay), S_OK);
    EXPECT_TRUE(FinishesWithin([&] { RunFrame(ctx); }, std::chrono::seconds(10)));
    StopStageThreads(ctx);
}

// A surface with no size to give (a minimised window on some systems): no
// image until `hiddenFor` asks have been made.
class ZeroSizePresenter final : public Presenter {
public:
    explicit ZeroSizePresenter(int hiddenFor) : hiddenFor_(hiddenFor) {}
    int asks = 0;
    std::uint32_t CurrentBackBufferIndex() const override { return 0; }
    HRESULT BeginFrame(BackBuffer* backBuffer) override {
        if (++asks <= hiddenFor_) {
            return E_FAIL;
        }
        backBuffer->image = reinterpret_cast<VkImage>(std::uintptr_t{1});
        backBuffer->width = backBuffer->height = 64;
        return S_OK;
    }
    VkSemaphore AcquiredSemaphore() const override { return VK_NULL_HANDLE; }
    VkSemaphore RenderedSemaphore() const override { return VK_NULL_HANDLE; }
    HRESULT Present(bool, bool) override { return S_OK; }
    HRESULT Resize(std::uint32_t, std::uint32_t) override { return S_OK; }
    void MaxSize(std::uint32_t* w, std::uint32_t* h) const override { *w = *h = 64; }
    void SetCapture(bool) override {}
    HRESULT ReadBackLastPresented(CapturedImage*) override { return E_FAIL; }

private:
    int hiddenFor_;
};

TEST(RunFrameTest, AFrameWithNoImageMovesTheSceneOnButRecordsNothing) {
    EngineContext ctx;
    ctx.Initialize();
    std::atomic<int> records{0};
    int updates = 0;
    ASSERT_EQ(AddStage(ctx, CountingStage(records), StageKind::CommandList), S_OK);
    auto presenter = std::make_unique<ZeroSizePresenter>(3);
    ZeroSizePresenter* zeroSize = presenter.get();
    ctx.Locked([&](EngineState& s) {
        s.presenter = std::move(presenter);
        s.onFrameUpdate = [&updates](EngineContext&) { ++updates; };
    });
    ASSERT_EQ(StartStageThreads(ctx), S_OK);
    ASSERT_TRUE(FrameIsHidden(ctx));
    ASSERT_TRUE(FinishesWithin(
        [&] {
            for (int i = 0; i < 6; ++i) {
                ASSERT_EQ(RunFrame(ctx), S_OK);
            }
        },
        std::chrono::seconds(10)));
    // The first four frames recorded nothing and each asked for an image;
    // the fourth ask got one, so the two frames after it recorded.
    EXPECT_EQ(updates, 6);
    EXPECT_EQ(zeroSize->asks, 4);
    EXPECT_EQ(records.load(), 2);
    EXPECT_FALSE(FrameIsHidden(ctx));
    StopStageThreads(ctx);
}

TEST(RunFrameTest, TeardownStopsBlockedStageThreads) {
    auto ctx = std::make_unique<EngineContext>();
    ctx->Initialize();
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(AddStage(*ctx, IdleStage, StageKind::Overlay), S_OK);
    }
    ASSERT_EQ(StartStageThreads(*ctx), S_OK);
    RunFrame(*ctx);
    EXPECT_TRUE(FinishesWithin([&] { ctx.reset(); }, std::chrono::seconds(10)));
}

// A device that only keeps a log: what the frame loop and teardown ask of it,
// and in which order.
class LoggingDevice final : public GpuDevice {
public:
    explicit LoggingDevice(std::vector<std::string>& log, std::atomic<int>* stageRuns = nullptr)
        : log_(log), stageRuns_(stageRuns) {}
    ~LoggingDevice() override { log_.push_back("device released"); }
    HRESULT SubmitAndPresent() override {
        log_.push_back("submit after " + std::to_string(stageRuns_ ? stageRuns_->load() : 0));
        return result;
    }
    void WaitForGpu() override { log_.push_back("wait for gpu"); }
    void MoveToNextFrame() override { log_.push_back("next frame"); }
    HRESULT result = S_OK;

private:
    std::vector<std::string>& log_;
    std::atomic<int>* stageRuns_;
};

TEST(RunFrameTest, TheDeviceSubmitsEachShownFrameAfterItsStagesAndALossEndsTheFrame) {
    // Made before the context: the device writes to them when the context goes.
    std::atomic<int> runs{0};
    std::vector<std::string> log;
    EngineContext ctx;
    ctx.Initialize();
    ASSERT_EQ(AddStage(ctx, CountingStage(runs), StageKind::CommandList), S_OK);
    auto device = std::make_unique<LoggingDevice>(log, &runs);
    LoggingDevice* logging = device.get();
    ctx.Locked([&](EngineState& s) {
        s.graphicsDevice = std::move(device);
        s.presenter = std::make_unique<ZeroSizePresenter>(1);
    });
    ASSERT_EQ(StartStageThreads(ctx), S_OK);
    ASSERT_TRUE(FinishesWithin(
        [&] {
            // Two hidden frames (the second one gets an image), then two shown.
            for (int i = 0; i < 4; ++i) {
                ASSERT_EQ(RunFrame(ctx), S_OK);
            }
            logging->result = E_FAIL;
            EXPECT_EQ(RunFrame(ctx), E_FAIL);
        },
        std::chrono::seconds(10)));
    EXPECT_EQ(log,
              (std::vector<std::string>{"submit after 1", "submit after 2", "submit after 3"}));
    WaitForGpu(ctx);
    MoveToNextFrame(ctx);
    EXPECT_EQ(log.back(), "next frame");
    EXPECT_EQ(log[log.size() - 2], "wait for gpu");
    StopStageThreads(ctx);
}

TEST(RunFrameTest, TeardownStopsTheStagesBeforeTheRendererGoesAndReleasesTheDeviceLast) {
    std::vector<std::string> log;
    std::mutex logMutex;
    auto ctx = std::make_unique<EngineContext>();
    ctx->Initialize();
    ASSERT_EQ(AddStage(
                  *ctx,
                  [&](EngineContext& c, std::uint64_t i, StageKind k) {
                      RunStageLoop(c, i, k, [] {});
                      std::lock_guard lock(logMutex);
                      log.push_back("stage stopped");
                  },
                  StageKind::CommandList),
              S_OK);
    ctx->Locked([&](EngineState& s) {
        s.graphicsDevice = std::make_unique<LoggingDevice>(log);
        // Teardown waits and calls back only where a device was made.
        s.device = reinterpret_cast<VkDevice>(std::uintptr_t{1});
        s.onDeviceReleasing = [&](EngineContext&) {
            std::lock_guard lock(logMutex);
            log.push_back("renderer released");
        };
    });
    ASSERT_EQ(StartStageThreads(*ctx), S_OK);
    ASSERT_TRUE(FinishesWithin([&] { ctx.reset(); }, std::chrono::seconds(10)));
    EXPECT_EQ(log, (std::vector<std::string>{"wait for gpu", "stage stopped", "renderer released",
                                             "device released"}));
}

}  // namespace

}  // namespace qv
