// Holds the engine's shared state under one lock, made once and torn down at exit.
#include "core/engine_context.h"

#include <SDL.h>

#include <cstdlib>

#include "core/frame_loop.h"
#include "core/presenter.h"
#include "platform/perf_counter.h"

namespace qv {

namespace {

std::mutex g_instanceMutex;
EngineContext* g_instance = nullptr;
bool g_instanceMade = false;

void TeardownAtExit() {
    EngineContext::Destroy();
}

}  // namespace

EngineContext::EngineContext() {
    state_.counterFrequency = QueryCounterFrequency();
    state_.lastCounter = QueryCounter();
    state_.maxDelta = state_.counterFrequency / 10;
}

EngineContext::~EngineContext() {
    Teardown();
}

EngineContext* EngineContext::Instance() {
    std::lock_guard guard(g_instanceMutex);
    if (!g_instanceMade) {
        g_instanceMade = true;
        g_instance = new EngineContext();
        g_instance->Initialize();
        std::atexit(TeardownAtExit);
    }
    return g_instance;
}

void EngineContext::Destroy() {
    EngineContext* doomed = nullptr;
    {
        std::lock_guard guard(g_instanceMutex);
        doomed = g_instance;
        g_instance = nullptr;
        g_instanceMade = true;
    }
    delete doomed;
}

void EngineContext::Initialize() {
    lockingEnabled_ = true;
    Locked([](EngineState& s) {
        s.window = nullptr;
        s.title = kAppTitle;
        s.dpiX = s.dpiY = 96.0f;
        s.width = s.height = 0;
        s.windowRect = {};
        s.backBuffers = {};
        s.frameIndex = 0;
        s.directQueueFenceValues = {};
        s.computeQueueFenceValues = {};
        s.raytracingSupported = false;
        s.hostImportAlignment = 0;
        s.windowCreated = s.deviceCreated = s.fullscreen = s.tearingSupported = false;
        s.vsync = true;
        // Read again so the first frame is timed from initialisation.
        s.counterFrequency = QueryCounterFrequency();
        s.lastCounter = QueryCounter();
        s.maxDelta = s.counterFrequency / 10;
        s.elapsedSeconds = s.framesPerSecond = s.frameSeconds = 0.0f;
        s.frameTimeIndex = 0;
        s.frameTimes = {};
        s.meanMilliseconds = 0.0f;
        s.onDeviceCreated = nullptr;
        s.onDeviceReleasing = nullptr;
        s.onFrameUpdate = nullptr;
    });
}

void EngineContext::UpdateFrameTiming() {
    UpdateFrameTimingAt(QueryCounter());
}

void EngineContext::UpdateFrameTimingAt(std::int64_t now) {
    const std::uint32_t i = Locked([](EngineState& s) { return s.frameTimeIndex; });
    const float elapsed = Locked([&](EngineState& s) {
        std::uint64_t delta = static_cast<std::uint64_t>(now - s.lastCounter);
        if (delta > static_cast<std::uint64_t>(s.maxDelta)) {
            delta = static_cast<std::uint64_t>(s.maxDelta);
        }
        s.lastCounter = now;
        s.elapsedSeconds = static_cast<float>(static_cast<double>(delta) /
                                              static_cast<double>(s.counterFrequency));
        s.frameSeconds = s.elapsedSeconds;
        return s.elapsedSeconds;
    });
    SetFrameTime(i, elapsed);
    Locked([&](EngineState& s) {
        float sum = 0.0f;
        for (float t : s.frameTimes) {
            sum += t;
        }
        const float mean = sum / static_cast<float>(kFrameTimeSlots);
        s.framesPerSecond = mean > 0.0f ? 1.0f / mean : 0.0f;
        s.meanMilliseconds = mean * 1000.0f;
        s.frameTimeIndex = (i + 1) % kFrameTimeSlots;
    });
}

namespace {

StageList* ListOf(EngineState& s, StageKind kind) {
    const auto k = static_cast<std::uint32_t>(kind);
    return k < s.stages.size() ? &s.stages[k] : nullptr;
}

}  // namespace

std::size_t EngineContext::GetStageCount(StageKind kind) {
    return Locked([&](EngineState& s) {
        StageList* list = ListOf(s, kind);
        return list ? list->descriptors.size() : std::size_t{0};
    });
}

namespace {

// The command-list stages' slots, one a stage: a slot past the last stage is
// ignored on writing and reads as no list.
void SetSlot(std::vector<VkCommandBuffer>& lists, std::uint64_t i, VkCommandBuffer list) {
    if (i < lists.size()) {
        lists[i] = list;
    }
}

VkCommandBuffer Slot(const std::vector<VkCommandBuffer>& lists, std::uint64_t i) {
    return i < lists.size() ? lists[i] : VK_NULL_HANDLE;
}

}  // namespace

void EngineContext::SetDirectList(std::uint64_t i, VkCommandBuffer list) {
    Locked([&](EngineState& s) { SetSlot(s.stages[0].directLists, i, list); });
}

VkCommandBuffer EngineContext::GetDirectList(std::uint64_t i) {
    return Locked([&](EngineState& s) { return Slot(s.stages[0].directLists, i); });
}

void EngineContext::SetComputeList(std::uint64_t i, VkCommandBuffer list) {
    Locked([&](EngineState& s) { SetSlot(s.stages[0].computeLists, i, list); });
}

VkCommandBuffer EngineContext::GetComputeList(std::uint64_t i) {
    return Locked([&](EngineState& s) { return Slot(s.stages[0].computeLists, i); });
}

AutoResetEvent* EngineContext::GetStartEvent(StageKind kind, std::uint64_t i) {
    return Locked([&](EngineState& s) -> AutoResetEvent* {
        StageList* list = ListOf(s, kind);
        return list && i < list->startEvents.size() ? list->startEvents[i].get() : nullptr;
    });
}

AutoResetEvent* EngineContext::GetDoneEvent(StageKind kind, std::uint64_t i) {
    return Locked([&](EngineState& s) -> AutoResetEvent* {
        StageList* list = ListOf(s, kind);
        return list && i < list->doneEvents.size() ? list->doneEvents[i].get() : nullptr;
    });
}

void EngineContext::SetStartEvent(StageKind kind, std::uint64_t i,
                                  std::unique_ptr<AutoResetEvent> e) {
    Locked([&](EngineState& s) {
        StageList* list = ListOf(s, kind);
        if (list && i < list->startEvents.size()) {
            list->startEvents[i] = std::move(e);
        }
    });
}

void EngineContext::SetDoneEvent(StageKind kind, std::uint64_t i,
                                 std::unique_ptr<AutoResetEvent> e) {
    Locked([&](EngineState& s) {
        StageList* list = ListOf(s, kind);
        if (list && i < list->doneEvents.size()) {
            list->doneEvents[i] = std::move(e);
        }
    });
}

void EngineContext::SetThread(StageKind kind, std::uint64_t i, std::thread t) {
    const bool stored = Locked([&](EngineState& s) {
        StageList* list = ListOf(s, kind);
        if (list && i < list->threads.size() && !list->threads[i].joinable()) {
            list->threads[i] = std::move(t);
            return true;
        }
        return false;
    });
    if (!stored && t.joinable()) {
        // A thread that has no slot could never be stopped; keep the
        // program from aborting on its destruction.
        t.detach();
    }
}

void EngineContext::Teardown() {
    const bool hadDevice = GetDevice() != VK_NULL_HANDLE;
    if (hadDevice) {
        WaitForGpu(*this);
    }
    // The threads go first: a stage still blocked on its start event must not
    // outlive what it records with, nor the lists it records into.
    StopStageThreads(*this);
    if (hadDevice) {
        DeviceReleasingCallback releasing =
            Locked([](EngineState& s) { return s.onDeviceReleasing; });
        if (releasing) {
            releasing(*this);
        }
    }
    ReleaseGraphics();

    SDL_Window* window = Locked([](EngineState& s) {
        SDL_Window* w = s.window;
        s.window = nullptr;
        s.windowCreated = false;
        return w;
    });
    if (window != nullptr) {
        SDL_DestroyWindow(window);
    }
    Locked([](EngineState& s) {
        s.stages = {};
        s.onDeviceCreated = nullptr;
        s.onDeviceReleasing = nullptr;
        s.onFrameUpdate = nullptr;
    });
}

void EngineContext::ReleaseGraphics() {
    // The device releases what it made, its presenter included; a presenter
    // set without a device goes after it.
    std::unique_ptr<GpuDevice> device;
    std::unique_ptr<Presenter> presenter;
    Locked([&](EngineState& s) { device = std::move(s.graphicsDevice); });
    device.reset();
    Locked([&](EngineState& s) {
        presenter = std::move(s.presenter);
        s.backBuffers = {};
    });
    presenter.reset();
}

}  // namespace qv
