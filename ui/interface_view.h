// What the tool windows read and ask: the scene, the interface state and the engine's facts.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace qv {

struct FileBrowser;
struct ModelSettingState;
struct Scene;
struct UiState;

// One pass of the frame with its GPU time, a mean over the last frames.
struct GpuPassFigure {
    const char* name = nullptr;  // a string that lives as long as the program
    float milliseconds = 0.0f;
};

// Facts of the engine and the device that the windows show. The interface
// stage gathers them (under the engine lock) before it draws, so the windows
// themselves read no engine state.
struct InterfaceFacts {
    std::string renderDeviceName;  // UTF-8
    bool rayTracingSupported = false;
    bool msaa8xAvailable = true;
    float framesPerSecond = 0.0f;
    float meanMilliseconds = 0.0f;
    // The passes that were timed, in drawing order: none on a device whose
    // queues keep no time.
    std::array<GpuPassFigure, 8> gpuPasses{};
    std::uint32_t gpuPassCount = 0;
    std::uint32_t clientWidth = 0;
    std::uint32_t clientHeight = 0;
    bool vsync = true;
};

// Windows that open other windows reach them through these; an empty one
// makes its button do nothing.
struct InterfaceActions {
    // The file browser, after the Import button has cleared the last status.
    std::function<void()> openFileBrowser;
    // Binds the model setting window to a model row and opens it.
    std::function<void(std::int32_t row)> openModelSetting;
};

// Everything one frame of the tool windows works on. Drawn on the interface
// stage thread while the scene stage records; the scene update never runs
// at the same time. The windows only read the scene: every change they make
// is a request in `ui` or an edit in `modelSetting`, carried out by the
// scene update.
struct InterfaceView {
    const Scene& scene;
    UiState& ui;
    InterfaceFacts facts;
    InterfaceActions actions;
    // The model setting window's binding; without one the window is not drawn.
    ModelSettingState* modelSetting = nullptr;
    // The import file browser; without one it is not drawn.
    FileBrowser* fileBrowser = nullptr;
};

}  // namespace qv
