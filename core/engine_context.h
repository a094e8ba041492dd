// The engine's shared state and callbacks, which every stage and the frame loop reach through.
#pragma once

#include <vulkan/vulkan.h>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/gpu_device.h"
#include "platform/auto_reset_event.h"
#include "platform/result_code.h"

struct SDL_Window;
union SDL_Event;

namespace qv {

class Presenter;
class EngineContext;

inline constexpr std::uint32_t kFrameCount = 3;
inline constexpr std::size_t kMaxStagesPerKind = 64;
inline constexpr std::uint32_t kFrameTimeSlots = 60;

inline constexpr const char* kAppTitle = "QV Graphics Framework";

enum class StageKind : std::uint32_t { CommandList = 0, Overlay = 1 };

struct StageDescriptor {
    std::uint64_t index = 0;
    std::uint32_t kind = 0;
};

// A stage function runs on its own thread for the life of the device. It
// returns only when the engine asks the stage threads to stop.
using StageFunction = std::function<void(EngineContext&, std::uint64_t index, StageKind kind)>;
using DeviceCreatedCallback = std::function<HRESULT(EngineContext&, VkDevice)>;
using DeviceReleasingCallback = std::function<void(EngineContext&)>;
using FrameUpdateCallback = std::function<void(EngineContext&)>;
// Sees each window event before the window does; true when it used the event
// up, so that the window does nothing more with it.
using MessageHook = std::function<bool(EngineContext&, const SDL_Event&)>;

struct WindowRect {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// One back buffer as the stages see it: the image to draw into, its view and
// the layout it must be left in at the end of the frame.
struct BackBuffer {
    VkImage image = VK_NULL_HANDLE;
    VkImageView view = VK_NULL_HANDLE;
    VkFormat format = VK_FORMAT_UNDEFINED;
    VkImageLayout presentLayout = VK_IMAGE_LAYOUT_UNDEFINED;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// Per kind, parallel arrays indexed by the stage's index within the kind.
struct StageList {
    std::vector<VkCommandBuffer> directLists;   // CommandList stages only
    std::vector<VkCommandBuffer> computeLists;  // CommandList stages only
    // A deque keeps each descriptor where it is while stages are appended: the
    // threads hold pointers to them.
    std::deque<StageDescriptor> descriptors;
    std::vector<std::unique_ptr<AutoResetEvent>> startEvents;
    std::vector<std::thread> threads;
    std::vector<std::unique_ptr<AutoResetEvent>> doneEvents;
    std::vector<StageFunction> functions;
};

// Everything the engine keeps process-wide. Reached only through
// EngineContext, which holds the lock around each access.
struct EngineState {
    SDL_Window* window = nullptr;
    std::string title;
    float dpiX = 96.0f, dpiY = 96.0f;
    std::uint32_t width = 0, height = 0;
    WindowRect windowRect;
    bool windowCreated = false;
    bool deviceCreated = false;
    bool fullscreen = false;
    bool tearingSupported = false;
    bool vsync = true;
    std::string adapterDescription;
    bool raytracingSupported = false;
    // Nonzero where the device takes memory the program allocates itself:
    // the alignment that memory needs.
    VkDeviceSize hostImportAlignment = 0;

    // The device's owner; the handles below are its, published for readers.
    std::unique_ptr<GpuDevice> graphicsDevice;
    VkInstance vkInstance = VK_NULL_HANDLE;
    VkDebugUtilsMessengerEXT debugMessenger = VK_NULL_HANDLE;
    VkSurfaceKHR surface = VK_NULL_HANDLE;
    VkPhysicalDevice physicalDevice = VK_NULL_HANDLE;
    VkDevice device = VK_NULL_HANDLE;
    VkQueue directQueue = VK_NULL_HANDLE;
    VkQueue computeQueue = VK_NULL_HANDLE;
    std::uint32_t directQueueFamily = 0;
    std::uint32_t computeQueueFamily = 0;
    std::unique_ptr<Presenter> presenter;
    std::array<BackBuffer, kFrameCount> backBuffers{};
    std::uint32_t frameIndex = 0;
    VkSemaphore directQueueFence = VK_NULL_HANDLE;  // timeline semaphore
    std::array<std::uint64_t, kFrameCount> directQueueFenceValues{};
    VkSemaphore computeQueueFence = VK_NULL_HANDLE;  // timeline semaphore
    std::array<std::uint64_t, kFrameCount> computeQueueFenceValues{};

    std::array<StageList, 2> stages;
    bool stagesStopping = false;

    std::int64_t counterFrequency = 0;
    std::int64_t lastCounter = 0;
    std::int64_t maxDelta = 0;
    float elapsedSeconds = 0.0f;
    float framesPerSecond = 0.0f;
    float frameSeconds = 0.0f;
    std::uint32_t frameTimeIndex = 0;
    std::array<float, kFrameTimeSlots> frameTimes{};
    float meanMilliseconds = 0.0f;

    DeviceCreatedCallback onDeviceCreated;
    DeviceReleasingCallback onDeviceReleasing;
    FrameUpdateCallback onFrameUpdate;
    MessageHook messageHook;
};

// The process-wide engine object. One lock covers all of it; each accessor
// holds it for a single member copy and never across a wait or a GPU call.
class EngineContext {
public:
    EngineContext();
    ~EngineContext();
    EngineContext(const EngineContext&) = delete;
    EngineContext& operator=(const EngineContext&) = delete;

    // The single process-wide object: created on first use, torn down at exit
    // unless Destroy() ran first. After Destroy() it stays absent.
    static EngineContext* Instance();
    static void Destroy();

    void Initialize();
    // Waits for the GPU, stops the stage threads, calls onDeviceReleasing,
    // then releases the device and the window.
    void Teardown();

    // Runs f with the state while holding the lock (when locking is enabled).
    template <class F>
    auto Locked(F&& f) {
        if (lockingEnabled_) {
            std::lock_guard guard(mutex_);
            return f(state_);
        }
        return f(state_);
    }
    // The lock is taken only while this is true; tests switch it off to check
    // that every accessor still works without it.
    void SetLockingEnabled(bool on) { lockingEnabled_ = on; }
    bool LockingEnabled() const { return lockingEnabled_; }

    SDL_Window* GetWindow() {
        return Locked([](EngineState& s) { return s.window; });
    }
    void SetWindow(SDL_Window* w) {
        Locked([&](EngineState& s) { s.window = w; });
    }
    std::string GetTitle() {
        return Locked([](EngineState& s) { return s.title; });
    }
    std::uint32_t GetWidth() {
        return Locked([](EngineState& s) { return s.width; });
    }
    std::uint32_t GetHeight() {
        return Locked([](EngineState& s) { return s.height; });
    }
    void SetWidth(std::uint32_t v) {
        Locked([&](EngineState& s) { s.width = v; });
    }
    void SetHeight(std::uint32_t v) {
        Locked([&](EngineState& s) { s.height = v; });
    }
    bool GetWindowCreated() {
        return Locked([](EngineState& s) { return s.windowCreated; });
    }
    void SetWindowCreated(bool v) {
        Locked([&](EngineState& s) { s.windowCreated = v; });
    }
    bool GetDeviceCreated() {
        return Locked([](EngineState& s) { return s.deviceCreated; });
    }
    void SetDeviceCreated(bool v) {
        Locked([&](EngineState& s) { s.deviceCreated = v; });
    }
    bool GetTearingSupported() {
        return Locked([](EngineState& s) { return s.tearingSupported; });
    }
    void SetTearingSupported(bool v) {
        Locked([&](EngineState& s) { s.tearingSupported = v; });
    }
    bool GetFullscreen() {
        return Locked([](EngineState& s) { return s.fullscreen; });
    }
    void SetFullscreen(bool v) {
        Locked([&](EngineState& s) { s.fullscreen = v; });
    }
    bool GetVsync() {
        return Locked([](EngineState& s) { return s.vsync; });
    }
    void SetVsync(bool v) {
        Locked([&](EngineState& s) { s.vsync = v; });
    }
    bool GetRaytracingSupported() {
        return Locked([](EngineState& s) { return s.raytracingSupported; });
    }
    void SetRaytracingSupported(bool v) {
        Locked([&](EngineState& s) { s.raytracingSupported = v; });
    }
    std::string GetAdapterDescription() {
        return Locked([](EngineState& s) { return s.adapterDescription; });
    }
    // The presenter and the device object, owned by the state; null before
    // the device is made and after teardown.
    Presenter* GetPresenter() {
        return Locked([](EngineState& s) { return s.presenter.get(); });
    }
    GpuDevice* GetGraphicsDevice() {
        return Locked([](EngineState& s) { return s.graphicsDevice.get(); });
    }
    VkDevice GetDevice() {
        return Locked([](EngineState& s) { return s.device; });
    }
    VkQueue GetDirectQueue() {
        return Locked([](EngineState& s) { return s.directQueue; });
    }
    std::uint32_t GetFrameIndex() {
        return Locked([](EngineState& s) { return s.frameIndex; });
    }
    void SetFrameIndex(std::uint32_t v) {
        Locked([&](EngineState& s) { s.frameIndex = v; });
    }

    // Per back buffer: an index of kFrameCount or more reads as empty and
    // stores nothing.
    void SetBackBuffer(std::uint32_t i, const BackBuffer& b) {
        Locked([&](EngineState& s) {
            if (i < kFrameCount) {
                s.backBuffers[i] = b;
            }
        });
    }
    BackBuffer GetCurrentBackBuffer() {
        return Locked([](EngineState& s) {
            return s.frameIndex < kFrameCount ? s.backBuffers[s.frameIndex] : BackBuffer{};
        });
    }
    std::uint64_t GetDirectFenceValue(std::uint32_t i) {
        return Locked([&](EngineState& s) {
            return i < kFrameCount ? s.directQueueFenceValues[i] : std::uint64_t{0};
        });
    }
    void SetDirectFenceValue(std::uint32_t i, std::uint64_t v) {
        Locked([&](EngineState& s) {
            if (i < kFrameCount) {
                s.directQueueFenceValues[i] = v;
            }
        });
    }
    std::uint64_t GetComputeFenceValue(std::uint32_t i) {
        return Locked([&](EngineState& s) {
            return i < kFrameCount ? s.computeQueueFenceValues[i] : std::uint64_t{0};
        });
    }
    void SetComputeFenceValue(std::uint32_t i, std::uint64_t v) {
        Locked([&](EngineState& s) {
            if (i < kFrameCount) {
                s.computeQueueFenceValues[i] = v;
            }
        });
    }

    // Per stage: an index not below the kind's stage count reads as empty and
    // stores nothing. A kind outside the two known ones is treated the same.
    std::size_t GetStageCount(StageKind kind);
    void SetDirectList(std::uint64_t i, VkCommandBuffer list);
    VkCommandBuffer GetDirectList(std::uint64_t i);
    void SetComputeList(std::uint64_t i, VkCommandBuffer list);
    VkCommandBuffer GetComputeList(std::uint64_t i);
    AutoResetEvent* GetStartEvent(StageKind kind, std::uint64_t i);
    AutoResetEvent* GetDoneEvent(StageKind kind, std::uint64_t i);
    void SetStartEvent(StageKind kind, std::uint64_t i, std::unique_ptr<AutoResetEvent> e);
    void SetDoneEvent(StageKind kind, std::uint64_t i, std::unique_ptr<AutoResetEvent> e);
    void SetThread(StageKind kind, std::uint64_t i, std::thread t);

    // Frame-time ring: indices of 60 or more store nothing.
    void SetFrameTime(std::uint32_t i, float seconds) {
        Locked([&](EngineState& s) {
            if (i < kFrameTimeSlots) {
                s.frameTimes[i] = seconds;
            }
        });
    }
    float GetFramesPerSecond() {
        return Locked([](EngineState& s) { return s.framesPerSecond; });
    }
    float GetMeanMilliseconds() {
        return Locked([](EngineState& s) { return s.meanMilliseconds; });
    }
    float GetFrameSeconds() {
        return Locked([](EngineState& s) { return s.frameSeconds; });
    }
    float GetElapsedSeconds() {
        return Locked([](EngineState& s) { return s.elapsedSeconds; });
    }

    // Called first in every frame with the counter now; the clock is a
    // parameter so that a stall can be replayed exactly.
    void UpdateFrameTiming();
    void UpdateFrameTimingAt(std::int64_t now);

private:
    void ReleaseGraphics();

    std::mutex mutex_;
    bool lockingEnabled_ = true;
    EngineState state_;
};

}  // namespace qv
