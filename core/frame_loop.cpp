// Starts the stage threads and drives each frame through them to presentation.
#include "core/frame_loop.h"
#include "core/vk_struct.h"

#include <new>
#include <system_error>
#include <tuple>
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

void SubmitSignal(VkQueue queue, VkSemaphore fence, std::uint64_t value) {
    const VkSemaphoreSubmitInfo signal = SemaphoreSubmit(fence, value);
    auto submit = VkStruct<VkSubmitInfo2>(VK_STRUCTURE_TYPE_SUBMIT_INFO_2);
    submit.signalSemaphoreInfoCount = 1;
    submit.pSignalSemaphoreInfos = &signal;
    vkQueueSubmit2(queue, 1, &submit, VK_NULL_HANDLE);
}

void WaitOnHost(VkDevice device, VkSemaphore fence, std::uint64_t value) {
    auto wait = VkStruct<VkSemaphoreWaitInfo>(VK_STRUCTURE_TYPE_SEMAPHORE_WAIT_INFO);
    wait.semaphoreCount = 1;
    wait.pSemaphores = &fence;
    wait.pValues = &value;
    vkWaitSemaphores(device, &wait, UINT64_MAX);
}

std::vector<VkCommandBufferSubmitInfo> ListsToSubmit(const std::vector<VkCommandBuffer>& lists) {
    std::vector<VkCommandBufferSubmitInfo> infos;
    for (VkCommandBuffer list : lists) {
        if (list != VK_NULL_HANDLE) {
            auto info =
                VkStruct<VkCommandBufferSubmitInfo>(VK_STRUCTURE_TYPE_COMMAND_BUFFER_SUBMIT_INFO);
            info.commandBuffer = list;
            infos.push_back(info);
        }
    }
    return infos;
}

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

HRESULT RunFrame(EngineContext& ctx) {
    ctx.UpdateFrameTiming();

    FrameUpdateCallback update = ctx.Locked([](EngineState& s) { return s.onFrameUpdate; });
    if (update) {
        update(ctx);
    }

    struct FrameView {
        std::uint32_t frameIndex = 0;
        bool allowTearing = false;
        bool vsync = true;
        VkDevice device = VK_NULL_HANDLE;
        VkQueue computeQueue = VK_NULL_HANDLE;
        VkSemaphore computeFence = VK_NULL_HANDLE;
        std::uint64_t computeValue = 0;
        VkQueue directQueue = VK_NULL_HANDLE;
        VkSemaphore directFence = VK_NULL_HANDLE;
        std::uint64_t directValue = 0;
        Presenter* presenter = nullptr;
        std::vector<AutoResetEvent*> starts[2];
        std::vector<AutoResetEvent*> dones[2];
    } f;
    ctx.Locked([&](EngineState& s) {
        f.frameIndex = s.frameIndex;
        f.allowTearing = s.tearingSupported;
        f.vsync = s.vsync;
        f.device = s.device;
        f.computeQueue = s.computeQueue;
        f.computeFence = s.computeQueueFence;
        f.computeValue = s.computeQueueFenceValues[s.frameIndex % kFrameCount];
        f.directQueue = s.directQueue;
        f.directFence = s.directQueueFence;
        f.directValue = s.directQueueFenceValues[s.frameIndex % kFrameCount];
        f.presenter = s.presenter.get();
        for (std::size_t k = 0; k < 2; ++k) {
            for (auto& e : s.stages[k].startEvents) {
                f.starts[k].push_back(e.get());
            }
            for (auto& e : s.stages[k].doneEvents) {
                f.dones[k].push_back(e.get());
            }
        }
    });

    // The scene has moved on above, so motion stays with the song; the slot,
    // its image and its fences wait untouched for the window to come back.
    if (f.presenter != nullptr && FrameIsHidden(ctx)) {
        AskAgainForBackBuffer(ctx, f.presenter);
        return S_OK;
    }

    // A stage whose thread never started has no events; it is neither
    // started nor waited for, so it cannot hold the frame up.
    for (std::size_t k = 0; k < 2; ++k) {
        for (std::size_t i = 0; i < f.starts[k].size(); ++i) {
            if (f.starts[k][i] != nullptr && f.dones[k][i] != nullptr) {
                f.starts[k][i]->Set();
            }
        }
    }
    for (std::size_t k = 0; k < 2; ++k) {
        for (std::size_t i = 0; i < f.dones[k].size(); ++i) {
            if (f.starts[k][i] == nullptr) {
                f.dones[k][i] = nullptr;
            }
        }
        WaitForAll(f.dones[k]);
    }

    if (f.device == VK_NULL_HANDLE || f.presenter == nullptr) {
        return S_OK;
    }

    std::vector<VkCommandBuffer> computeLists, directLists;
    ctx.Locked([&](EngineState& s) {
        computeLists = s.stages[0].computeLists;
        directLists = s.stages[0].directLists;
    });

    // Compute first; the direct queue waits for it on the GPU, not the CPU.
    {
        auto lists = ListsToSubmit(computeLists);
        const VkSemaphoreSubmitInfo signal = SemaphoreSubmit(f.computeFence, f.computeValue);
        auto submit = VkStruct<VkSubmitInfo2>(VK_STRUCTURE_TYPE_SUBMIT_INFO_2);
        submit.commandBufferInfoCount = static_cast<std::uint32_t>(lists.size());
        submit.pCommandBufferInfos = lists.data();
        submit.signalSemaphoreInfoCount = 1;
        submit.pSignalSemaphoreInfos = &signal;
        vkQueueSubmit2(f.computeQueue, 1, &submit, VK_NULL_HANDLE);
    }
    {
        auto lists = ListsToSubmit(directLists);
        std::vector<VkSemaphoreSubmitInfo> waits{SemaphoreSubmit(f.computeFence, f.computeValue)};
        std::vector<VkSemaphoreSubmitInfo> signals{SemaphoreSubmit(f.directFence, f.directValue)};
        if (VkSemaphore acquired = f.presenter->AcquiredSemaphore(); acquired != VK_NULL_HANDLE) {
            waits.push_back(SemaphoreSubmit(acquired));
        }
        if (VkSemaphore rendered = f.presenter->RenderedSemaphore(); rendered != VK_NULL_HANDLE) {
            signals.push_back(SemaphoreSubmit(rendered));
        }
        auto submit = VkStruct<VkSubmitInfo2>(VK_STRUCTURE_TYPE_SUBMIT_INFO_2);
        submit.waitSemaphoreInfoCount = static_cast<std::uint32_t>(waits.size());
        submit.pWaitSemaphoreInfos = waits.data();
        submit.commandBufferInfoCount = static_cast<std::uint32_t>(lists.size());
        submit.pCommandBufferInfos = lists.data();
        submit.signalSemaphoreInfoCount = static_cast<std::uint32_t>(signals.size());
        submit.pSignalSemaphoreInfos = signals.data();
        // The one submission result looked at: a lost device would otherwise
        // let the loop spin on without ever drawing again.
        if (vkQueueSubmit2(f.directQueue, 1, &submit, VK_NULL_HANDLE) == VK_ERROR_DEVICE_LOST) {
            return E_FAIL;
        }
    }
    {
        const VkSemaphoreSubmitInfo wait = SemaphoreSubmit(f.directFence, f.directValue);
        auto submit = VkStruct<VkSubmitInfo2>(VK_STRUCTURE_TYPE_SUBMIT_INFO_2);
        submit.waitSemaphoreInfoCount = 1;
        submit.pWaitSemaphoreInfos = &wait;
        vkQueueSubmit2(f.computeQueue, 1, &submit, VK_NULL_HANDLE);
    }

    // Overlay stages stay idle here: they fill no image, so there is nothing
    // to compose over the back buffer.

    const HRESULT presented = f.presenter->Present(f.vsync, !f.vsync && f.allowTearing);
    if (presented == kDeviceLost) {
        return E_FAIL;
    }
    MoveToNextFrame(ctx);
    return S_OK;
}

void WaitForGpu(EngineContext& ctx) {
    struct {
        VkDevice device;
        VkQueue computeQueue, directQueue;
        VkSemaphore computeFence, directFence;
        std::uint32_t f;
        std::uint64_t computeValue, directValue;
    } g{};
    ctx.Locked([&](EngineState& s) {
        g.device = s.device;
        g.computeQueue = s.computeQueue;
        g.directQueue = s.directQueue;
        g.computeFence = s.computeQueueFence;
        g.directFence = s.directQueueFence;
        g.f = s.frameIndex % kFrameCount;
        g.computeValue = s.computeQueueFenceValues[g.f];
        g.directValue = s.directQueueFenceValues[g.f];
    });
    if (g.device == VK_NULL_HANDLE || g.computeFence == VK_NULL_HANDLE ||
        g.directFence == VK_NULL_HANDLE) {
        return;
    }
    SubmitSignal(g.computeQueue, g.computeFence, g.computeValue);
    WaitOnHost(g.device, g.computeFence, g.computeValue);
    SubmitSignal(g.directQueue, g.directFence, g.directValue);
    WaitOnHost(g.device, g.directFence, g.directValue);
    ctx.SetComputeFenceValue(g.f, g.computeValue + 1);
    ctx.SetDirectFenceValue(g.f, g.directValue + 1);
}

void MoveToNextFrame(EngineContext& ctx) {
    const std::uint32_t f = ctx.GetFrameIndex() % kFrameCount;
    const std::uint64_t computeValue = ctx.GetComputeFenceValue(f);
    const std::uint64_t directValue = ctx.GetDirectFenceValue(f);
    auto [device, fence, presenter] = ctx.Locked([](EngineState& s) {
        return std::tuple{s.device, s.directQueueFence, s.presenter.get()};
    });
    if (presenter == nullptr) {
        return;
    }
    const std::uint32_t n = presenter->CurrentBackBufferIndex() % kFrameCount;
    const std::uint64_t needed = ctx.GetDirectFenceValue(n);
    std::uint64_t completed = 0;
    if (device != VK_NULL_HANDLE && fence != VK_NULL_HANDLE) {
        vkGetSemaphoreCounterValue(device, fence, &completed);
        if (completed < needed) {
            WaitOnHost(device, fence, needed);
        }
    }
    ctx.SetFrameIndex(n);
    ctx.SetComputeFenceValue(n, computeValue + 1);
    ctx.SetDirectFenceValue(n, directValue + 1);

    // Only now, with the slot's last frame off the GPU, may its image be
    // handed out again.
    // A slot whose image could not be had (a zero-sized surface) stays
    // empty: the frames after it are hidden frames until one is had.
    BackBuffer backBuffer;
    ctx.SetBackBuffer(n, Succeeded(presenter->BeginFrame(&backBuffer)) ? backBuffer : BackBuffer{});
}

}  // namespace qv
