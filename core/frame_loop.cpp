// Starts the stage threads and drives each frame through them to presentation.
#include "core/frame_loop.h"

#include <algorithm>
#include <array>
#include <new>
#include <span>
#include <system_error>
#include <vector>

#include "core/app_window.h"
#include "core/presenter.h"

namespace qv {

HRESULT AddStage(EngineContext& ctx, StageFunction function, StageKind kind) {
    return AddStage(ctx, std::move(function), static_cast<std::uint32_t>(kind));
}

HRESULT AddStage(EngineContext& ctx, StageFunction function, std::uint32_t kind) {
    if (!function || kind > 1) {
        return E_INVALIDARG;
    }
    return ctx.Locked([&](EngineState& s) {
        StageList& list = s.stages[kind];
        // One frame waits for every stage of a kind at once; more than the
        // wait can take would leave stages running into the next frame.
        if (list.descriptors.size() >= kMaxStagesPerKind) {
            return E_INVALIDARG;
        }
        if (kind == static_cast<std::uint32_t>(StageKind::CommandList)) {
            list.directLists.push_back(VK_NULL_HANDLE);
            list.computeLists.push_back(VK_NULL_HANDLE);
        }
        list.descriptors.push_back({list.descriptors.size(), kind});
        list.startEvents.emplace_back();
        list.threads.emplace_back();
        list.doneEvents.emplace_back();
        list.functions.push_back(std::move(function));
        return S_OK;
    });
}

unsigned StageThreadEntry(EngineContext& ctx, const StageDescriptor* descriptor) {
    if (descriptor == nullptr || descriptor->kind > 1) {
        return 0;
    }
    StageFunction function = ctx.Locked([&](EngineState& s) -> StageFunction {
        auto& functions = s.stages[descriptor->kind].functions;
        return descriptor->index < functions.size() ? functions[descriptor->index] : nullptr;
    });
    if (function) {
        function(ctx, descriptor->index, static_cast<StageKind>(descriptor->kind));
    }
    return 0;
}

HRESULT StartStageThreads(EngineContext& ctx) {
    for (StageKind kind : {StageKind::CommandList, StageKind::Overlay}) {
        const std::size_t count = ctx.GetStageCount(kind);
        for (std::size_t i = 0; i < count; ++i) {
            const StageDescriptor* descriptor = ctx.Locked([&](EngineState& s) {
                return &s.stages[static_cast<std::uint32_t>(kind)].descriptors[i];
            });
            try {
                ctx.SetStartEvent(kind, i, std::make_unique<AutoResetEvent>());
                ctx.SetDoneEvent(kind, i, std::make_unique<AutoResetEvent>());
                ctx.SetThread(kind, i, std::thread([&ctx, descriptor] {
                                  StageThreadEntry(ctx, descriptor);
                              }));
            } catch (const std::bad_alloc&) {
                return E_OUTOFMEMORY;
            } catch (const std::system_error&) {
                return E_OUTOFMEMORY;
            }
        }
    }
    return S_OK;
}

void StopStageThreads(EngineContext& ctx) {
    std::vector<std::thread> threads;
    std::vector<AutoResetEvent*> starts;
    ctx.Locked([&](EngineState& s) {
        s.stagesStopping = true;
        for (StageList& list : s.stages) {
            for (std::size_t i = 0; i < list.threads.size(); ++i) {
                if (list.threads[i].joinable()) {
                    threads.push_back(std::move(list.threads[i]));
                    starts.push_back(list.startEvents[i].get());
                }
            }
        }
    });
    for (AutoResetEvent* start : starts) {
        if (start != nullptr) {
            start->Set();
        }
    }
    for (std::thread& t : threads) {
        t.join();
    }
    ctx.Locked([](EngineState& s) { s.stagesStopping = false; });
}

namespace {

// Blocks until the frame starts this stage. false means the engine is
// shutting down and the stage should return.
bool WaitForStageStart(EngineContext& ctx, AutoResetEvent* start) {
    if (start == nullptr) {
        return false;
    }
    start->Wait();
    return !ctx.Locked([](EngineState& s) { return s.stagesStopping; });
}

}  // namespace

void RunStageLoop(EngineContext& ctx, std::uint64_t index, StageKind kind,
                  const std::function<void()>& work) {
    AutoResetEvent* start = ctx.GetStartEvent(kind, index);
    AutoResetEvent* done = ctx.GetDoneEvent(kind, index);
    while (WaitForStageStart(ctx, start)) {
        work();
        if (done != nullptr) {
            done->Set();
        }
    }
}

void IdleStage(EngineContext& ctx, std::uint64_t index, StageKind kind) {
    RunStageLoop(ctx, index, kind, [] {});
}

namespace {

// A slot whose image could not be had while the window was visible (a
// zero-sized surface) asks again, so the first frame after it comes back
// draws. A hidden window is never asked: its images are not handed out.
void AskAgainForBackBuffer(EngineContext& ctx, Presenter* presenter) {
    if (WindowIsHidden(ctx) || ctx.GetCurrentBackBuffer().image != VK_NULL_HANDLE) {
        return;
    }
    BackBuffer backBuffer;
    if (Succeeded(presenter->BeginFrame(&backBuffer))) {
        ctx.SetBackBuffer(ctx.GetFrameIndex() % kFrameCount, backBuffer);
    }
}

}  // namespace

bool FrameIsHidden(EngineContext& ctx) {
    const bool presenting = ctx.Locked([](EngineState& s) { return s.presenter != nullptr; });
    return presenting &&
           (WindowIsHidden(ctx) || ctx.GetCurrentBackBuffer().image == VK_NULL_HANDLE);
}

void PaceHiddenFrames(EngineContext& ctx) {
    if (FrameIsHidden(ctx)) {
        WaitForWindowEvent(ctx, kHiddenFrameMilliseconds);
    }
}

namespace {

// Releases every started stage of both kinds at once, then waits for all of
// them. A stage whose thread never started has no events; it is neither
// started nor waited for, so it cannot hold the frame up.
void RunStages(EngineContext& ctx) {
    // Fixed arrays: a played frame allocates nothing.
    std::array<std::array<AutoResetEvent*, kMaxStagesPerKind>, 2> starts{};
    std::array<std::array<AutoResetEvent*, kMaxStagesPerKind>, 2> dones{};
    std::array<std::size_t, 2> counts{};
    ctx.Locked([&](EngineState& s) {
        for (std::size_t k = 0; k < 2; ++k) {
            const StageList& list = s.stages[k];
            counts[k] = std::min(list.startEvents.size(), kMaxStagesPerKind);
            for (std::size_t i = 0; i < counts[k]; ++i) {
                const bool started = list.startEvents[i] && list.doneEvents[i];
                starts[k][i] = started ? list.startEvents[i].get() : nullptr;
                dones[k][i] = started ? list.doneEvents[i].get() : nullptr;
            }
        }
    });
    for (std::size_t k = 0; k < 2; ++k) {
        for (std::size_t i = 0; i < counts[k]; ++i) {
            if (starts[k][i] != nullptr) {
                starts[k][i]->Set();
            }
        }
    }
    for (std::size_t k = 0; k < 2; ++k) {
        WaitForAll(std::span<AutoResetEvent* const>(dones[k].data(), counts[k]));
    }
}

}  // namespace

HRESULT RunFrame(EngineContext& ctx) {
    ctx.UpdateFrameTiming();

    // Called in place, not copied: only the main thread sets the callback,
    // and a copy of a capturing callback would allocate every frame.
    const FrameUpdateCallback* update = ctx.Locked([](EngineState& s) { return &s.onFrameUpdate; });
    if (*update) {
        (*update)(ctx);
    }

    Presenter* presenter = ctx.GetPresenter();
    // The scene has moved on above, so motion stays with the song; the slot,
    // its image and its fences wait untouched for the window to come back.
    if (presenter != nullptr && FrameIsHidden(ctx)) {
        AskAgainForBackBuffer(ctx, presenter);
        return S_OK;
    }
    RunStages(ctx);

    GpuDevice* device = ctx.GetGraphicsDevice();
    if (device == nullptr || presenter == nullptr) {
        return S_OK;
    }
    return device->SubmitAndPresent();
}

void WaitForGpu(EngineContext& ctx) {
    if (GpuDevice* device = ctx.GetGraphicsDevice()) {
        device->WaitForGpu();
    }
}

void MoveToNextFrame(EngineContext& ctx) {
    if (GpuDevice* device = ctx.GetGraphicsDevice()) {
        device->MoveToNextFrame();
    }
}

}  // namespace qv
