// Reads the player's command line and runs its window, or a headless run, until done.
#include "app/player.h"
#include "core/vk_struct.h"

#include <SDL.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <tuple>

#include "app/file_drop.h"
#include "app/input_hook.h"
#include "app/player_interface.h"
#include "core/app_window.h"
#include "core/frame_loop.h"
#include "core/presenter.h"
#include "demo/demo_content.h"
#include "platform/mount_points.h"
#include "render/graphics_device.h"
#include "render/material_values.h"
#include "render/png_file.h"
#include "render/vulkan_helpers.h"
#include "runtime/motion.h"
#include "scene/scene.h"
#include "ui/file_browser.h"
#include "ui/model_setting.h"
#include "ui/window_names.h"

namespace qv {

const char* const kUsage =
    "Usage: qv [options] [FILE...]\n"
    "Opens the player window and imports the given files (.pmx models, .vmd motions,\n"
    ".wav songs, .hlsl effect shaders) as one batch.\n"
    "  --play             once the files are in, add every motion to every model,\n"
    "                     select the first song, let the first motion with camera\n"
    "                     keys drive the camera, and start playing\n"
    "  --demo             play the built-in demo: a figure dancing to a beat\n"
    "No other option is needed in normal use; these serve automation:\n"
    "  --headless         render offscreen without a window or display\n"
    "                     (runs one frame unless --frames says otherwise)\n"
    "  --frames N         stop after N frames (counted once the files are in)\n"
    "  --screenshot FILE  write the last frame, tool windows included, to FILE as a PNG\n"
    "  --show NAME[,NAME...]\n"
    "                     open tool windows at start: navigator, resources, graphics,\n"
    "                     physics, about, statistics, import-status, file-browser,\n"
    "                     model-setting (bound to the first model; model-setting:bone,\n"
    "                     :material, :morph or :motion picks the tab)\n"
    "  --hide-ui          draw no tool windows (the picture of the scene alone)\n"
    "  --raytracing       ray trace the frames (where the device can), as the\n"
    "                     Graphic setting window's \"Ray Tracing\" switch does\n"
    "  --rt-quality LOW|MEDIUM|HIGH|ULTRA\n"
    "                     samples of ray-traced diffuse light and shadow: 4, 8, 12\n"
    "                     or 16 (default LOW)\n"
    "  --help             show this text\n"
    "Set QV_VALIDATION=1 to run with the Vulkan validation layer.\n"
    "qv render OUT [FILE...] makes a video of the files instead: see qv render --help.\n";

HRESULT ParseOptions(int argc, const char* const* argv, PlayerOptions* options,
                     std::string* error) {
    *options = {};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            options->help = true;
        } else if (arg == "--headless") {
            options->headless = true;
        } else if (arg == "--frames") {
            const char* text = hasValue ? argv[++i] : "";
            const char* end = text + std::strlen(text);
            std::uint64_t n = 0;
            auto [ptr, ec] = std::from_chars(text, end, n);
            if (ec != std::errc() || ptr != end || n == 0) {
                *error = "--frames needs a whole number above 0";
                return E_INVALIDARG;
            }
            options->frames = n;
        } else if (arg == "--screenshot") {
            if (!hasValue || argv[i + 1][0] == '\0') {
                *error = "--screenshot needs a file name";
                return E_INVALIDARG;
            }
            options->screenshot = argv[++i];
        } else if (arg == "--show") {
            if (!hasValue || argv[i + 1][0] == '\0') {
                *error = std::string("--show needs window names: ") + kWindowNames;
                return E_INVALIDARG;
            }
            UiState probe;
            std::string unknown;
            if (!OpenWindowsByName(argv[i + 1], &probe, &unknown)) {
                *error =
                    "--show knows no window \"" + unknown + "\" (it knows " + kWindowNames + ")";
                return E_INVALIDARG;
            }
            if (!options->showWindows.empty()) {
                options->showWindows += ',';
            }
            options->showWindows += argv[++i];
        } else if (arg == "--hide-ui") {
            options->hideInterface = true;
        } else if (arg == "--raytracing") {
            options->rayTracing = true;
        } else if (arg == "--rt-quality") {
            if (!ParseRayTracingQuality(hasValue ? argv[++i] : "", &options->rayTracingQuality)) {
                *error = "--rt-quality needs LOW, MEDIUM, HIGH or ULTRA";
                return E_INVALIDARG;
            }
        } else if (arg == "--play") {
            options->play = true;
        } else if (arg == "--demo") {
            options->demo = true;
        } else if (!arg.starts_with("--")) {
            options->files.emplace_back(arg);
        } else {
            *error = "unknown option " + arg + " (see qv --help)";
            return E_INVALIDARG;
        }
    }
    return S_OK;
}

bool ParseRayTracingQuality(std::string level, std::int32_t* quality) {
    static constexpr const char* kLevels[] = {"LOW", "MEDIUM", "HIGH", "ULTRA"};
    for (char& c : level) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const auto* found = std::find(std::begin(kLevels), std::end(kLevels), level);
    if (found == std::end(kLevels)) {
        return false;
    }
    *quality = static_cast<std::int32_t>(found - std::begin(kLevels));
    return true;
}

bool SwitchOnRayTracing(Scene& scene, std::int32_t quality) {
    if (!scene.render.rayTracingAvailable) {
        return false;
    }
    scene.render.rayTracing = true;
    scene.render.rebuildAccelerationStructures = true;
    scene.render.diffuseQuality = scene.render.shadowQuality = std::clamp(quality, 0, 3);
    scene.render.diffuseSamples = scene.render.shadowSamples =
        SamplesForQuality(scene.render.diffuseQuality);
    // Multisampling and ray tracing are not combined: FXAA stays.
    for (std::int32_t* mode : {&scene.render.antiAliasing, &scene.render.antiAliasingMode}) {
        if (*mode == kMsaa4x || *mode == kMsaa8x) {
            *mode = kAntiAliasingNone;
        }
    }
    return true;
}

void ClearToWhite(VkCommandBuffer, VkCommandBuffer direct, std::uint32_t,
                  const BackBuffer& target) {
    if (target.image != VK_NULL_HANDLE) {
        ClearBackBuffer(direct, target, {{1.0f, 1.0f, 1.0f, 1.0f}});
    }
}

namespace {

void BeginList(VkCommandBuffer list) {
    auto begin = VkStruct<VkCommandBufferBeginInfo>(VK_STRUCTURE_TYPE_COMMAND_BUFFER_BEGIN_INFO);
    begin.flags = VK_COMMAND_BUFFER_USAGE_ONE_TIME_SUBMIT_BIT;
    vkBeginCommandBuffer(list, &begin);
}

void SceneStage(EngineContext& ctx, PlayerGraphics& g, std::uint64_t index, StageKind kind) {
    AutoResetEvent* start = ctx.GetStartEvent(kind, index);
    AutoResetEvent* done = ctx.GetDoneEvent(kind, index);
    while (WaitForStageStart(ctx, start)) {
        const std::uint32_t f = ctx.GetFrameIndex() % kFrameCount;
        vkResetCommandPool(g.device, g.sceneComputePools[f], 0);
        vkResetCommandPool(g.device, g.sceneDirectPools[f], 0);
        VkCommandBuffer compute = g.sceneComputeLists[f];
        VkCommandBuffer direct = g.sceneDirectLists[f];
        BeginList(compute);
        BeginList(direct);
        g.recordScene(compute, direct, f, ctx.GetCurrentBackBuffer());
        vkEndCommandBuffer(compute);
        vkEndCommandBuffer(direct);
        ctx.SetComputeList(index, compute);
        ctx.SetDirectList(index, direct);
        done->Set();
    }
}

void InterfaceStage(EngineContext& ctx, PlayerGraphics& g, std::uint64_t index, StageKind kind) {
    AutoResetEvent* start = ctx.GetStartEvent(kind, index);
    AutoResetEvent* done = ctx.GetDoneEvent(kind, index);
    while (WaitForStageStart(ctx, start)) {
        const std::uint32_t f = ctx.GetFrameIndex() % kFrameCount;
        vkResetCommandPool(g.device, g.interfacePools[f], 0);
        VkCommandBuffer direct = g.interfaceLists[f];
        BeginList(direct);
        if (g.recordInterface) {
            g.recordInterface(direct, f, ctx.GetCurrentBackBuffer());
        }
        vkEndCommandBuffer(direct);
        ctx.SetDirectList(index, direct);
        done->Set();
    }
}

HRESULT CreatePools(VkDevice device, std::uint32_t family,
                    std::array<VkCommandPool, kFrameCount>& pools,
                    std::array<VkCommandBuffer, kFrameCount>& lists) {
    for (std::uint32_t f = 0; f < kFrameCount; ++f) {
        auto info = VkStruct<VkCommandPoolCreateInfo>(VK_STRUCTURE_TYPE_COMMAND_POOL_CREATE_INFO);
        info.flags = VK_COMMAND_POOL_CREATE_TRANSIENT_BIT;
        info.queueFamilyIndex = family;
        if (vkCreateCommandPool(device, &info, nullptr, &pools[f]) != VK_SUCCESS) {
            return E_OUTOFMEMORY;
        }
        auto alloc =
            VkStruct<VkCommandBufferAllocateInfo>(VK_STRUCTURE_TYPE_COMMAND_BUFFER_ALLOCATE_INFO);
        alloc.commandPool = pools[f];
        alloc.level = VK_COMMAND_BUFFER_LEVEL_PRIMARY;
        alloc.commandBufferCount = 1;
        if (vkAllocateCommandBuffers(device, &alloc, &lists[f]) != VK_SUCCESS) {
            return E_OUTOFMEMORY;
        }
    }
    return S_OK;
}

}  // namespace

HRESULT RenderSetUp(EngineContext& ctx, PlayerGraphics& g, VkDevice device) {
    auto [queue, directFamily, computeFamily] = ctx.Locked([](EngineState& s) {
        return std::tuple{s.directQueue, s.directQueueFamily, s.computeQueueFamily};
    });
    if (device == VK_NULL_HANDLE || queue == VK_NULL_HANDLE) {
        return E_FAIL;
    }
    g.device = device;
    HRESULT hr = CreatePools(device, computeFamily, g.sceneComputePools, g.sceneComputeLists);
    if (Succeeded(hr)) {
        hr = CreatePools(device, directFamily, g.sceneDirectPools, g.sceneDirectLists);
    }
    if (Succeeded(hr)) {
        hr = CreatePools(device, directFamily, g.interfacePools, g.interfaceLists);
    }
    if (Failed(hr)) {
        return hr;
    }
    // The slots start empty: a list is submitted only after its stage has
    // recorded it for the frame.
    if (hr = InitializeRenderer(ctx, g.renderer, device); Failed(hr)) {
        return hr;
    }
    const GpuContext gpu = ctx.Locked([&](EngineState& s) {
        return GpuContext{s.physicalDevice,     device,
                          s.directQueue,        s.directQueueFamily,
                          s.computeQueueFamily, s.raytracingSupported};
    });
    g.sceneRenderer = std::make_unique<SceneRenderer>();
    std::string message;
    hr = g.sceneRenderer->Initialize(gpu, &message);
    if (Succeeded(hr) && g.interface != nullptr && g.interface->Started()) {
        const VkInstance instance = ctx.Locked([](EngineState& s) { return s.vkInstance; });
        g.interfaceRenderer = std::make_unique<InterfaceRenderer>();
        hr = g.interfaceRenderer->Initialize(instance, gpu, ctx.GetCurrentBackBuffer().format,
                                             &message);
    }
    if (Failed(hr) && !message.empty()) {
        std::fprintf(stderr, "qv: %s\n", message.c_str());
    }
    return hr;
}

void ReleasePlayerGraphics(PlayerGraphics& g) {
    if (g.device == VK_NULL_HANDLE) {
        return;
    }
    if (g.sceneRenderer) {
        g.sceneRenderer->Release();
        g.sceneRenderer.reset();
    }
    if (g.interfaceRenderer) {
        g.interfaceRenderer->Release();
        g.interfaceRenderer.reset();
    }
    for (auto* pools : {&g.sceneComputePools, &g.sceneDirectPools, &g.interfacePools}) {
        for (VkCommandPool& pool : *pools) {
            if (pool != VK_NULL_HANDLE) {
                vkDestroyCommandPool(g.device, pool, nullptr);
            }
            pool = VK_NULL_HANDLE;
        }
    }
    g.sceneComputeLists = {};
    g.sceneDirectLists = {};
    g.interfaceLists = {};
    g.device = VK_NULL_HANDLE;
}

HRESULT RegisterPlayer(EngineContext& ctx, PlayerGraphics& g) {
    PlayerGraphics* graphics = &g;
    ctx.Locked([&](EngineState& s) {
        s.onDeviceCreated = [graphics](EngineContext& c, VkDevice device) {
            return RenderSetUp(c, *graphics, device);
        };
        // The stage threads are stopped by now, so their pools can go.
        s.onDeviceReleasing = [graphics](EngineContext& c) {
            StopStageThreads(c);
            ReleasePlayerGraphics(*graphics);
        };
        s.onFrameUpdate = [](EngineContext& c) {
            // The scene update takes the frame time from here once it exists.
            (void)c.GetFrameSeconds();
        };
    });
    const StageFunction stages[] = {
        [graphics](EngineContext& c, std::uint64_t i, StageKind k) {
            SceneStage(c, *graphics, i, k);
        },
        [graphics](EngineContext& c, std::uint64_t i, StageKind k) {
            InterfaceStage(c, *graphics, i, k);
        },
        IdleStage,
        IdleStage,
    };
    const StageKind kinds[] = {StageKind::CommandList, StageKind::CommandList, StageKind::Overlay,
                               StageKind::Overlay};
    for (int i = 0; i < 4; ++i) {
        if (const HRESULT hr = AddStage(ctx, stages[i], kinds[i]); Failed(hr)) {
            return hr;
        }
    }
    return S_OK;
}

void ConnectSceneRenderer(EngineContext& ctx, PlayerGraphics& graphics, Scene& scene,
                          const char* program) {
    scene.waitForGpu = [&ctx] { WaitForGpu(ctx); };
    scene.importer.SetDecodeTextures(true);
    scene.createModelResources = [&graphics, &scene, program](ModelInstance& instance,
                                                              const PmxModel& model,
                                                              ModelTextures& textures) {
        if (!graphics.sceneRenderer) {
            return S_OK;
        }
        std::string message;
        // The default shader set draws every model loaded from now on.
        const HRESULT hr = graphics.sceneRenderer->CreateModel(
            instance, model, SceneShaderSet(scene, scene.defaultShader), &message, &textures);
        if (hr != S_OK && !message.empty()) {
            std::fprintf(stderr, "%s: %s\n", program, message.c_str());
        }
        return hr;  // 2 for a missing texture: the model is dropped
    };
    scene.releaseModelResources = [&graphics](const ModelInstance& instance) {
        if (graphics.sceneRenderer) {
            graphics.sceneRenderer->ReleaseModel(instance);
        }
    };
    scene.hooks.rebuildAccelerationStructures = [&graphics, &scene, program] {
        if (!graphics.sceneRenderer) {
            return false;
        }
        std::string message;
        if (Failed(graphics.sceneRenderer->RebuildRayTracing(scene, &message))) {
            std::fprintf(stderr, "%s: ray tracing is switched off: %s\n", program, message.c_str());
            // The user sees it in the import status window as well.
            scene.importer.ShowMessage("Ray Tracing was switched off: " + message + ".");
            return false;
        }
        return true;
    };
    graphics.recordScene = [&graphics, &scene](VkCommandBuffer compute, VkCommandBuffer direct,
                                               std::uint32_t frame, const BackBuffer& target) {
        if (graphics.sceneRenderer) {
            graphics.sceneRenderer->Record(scene, compute, direct, frame, target);
        } else {
            ClearToWhite(compute, direct, frame, target);
        }
    };
}

namespace {

int Report(HRESULT hr, const std::string& line) {
    std::fprintf(stderr, "qv: %s (%s)\n", line.c_str(), FormatResult(hr).c_str());
    return static_cast<int>(hr);
}

}  // namespace

namespace {

// --play: what a user would do by hand once the files are in.
void StartPlaying(Scene& scene) {
    for (std::size_t m = 0; m < scene.models.size(); ++m) {
        for (std::size_t k = 0; k < scene.motions.size(); ++k) {
            AttachMotion(*scene.models[m].instance, scene.motions[k].motion);
            scene.models[m].entry.addedMotions.push_back(scene.motions[k].name);
        }
    }
    if (!scene.songs.empty()) {
        SelectSong(scene, 0);
    }
    scene.stage.cameraMotion = PickCameraMotion(scene);
    PressPlay(scene);
}

// The engine's facts that change from frame to frame, read under its lock.
void RefreshFacts(EngineContext& ctx, InterfaceFacts& facts) {
    facts.framesPerSecond = ctx.GetFramesPerSecond();
    facts.meanMilliseconds = ctx.GetMeanMilliseconds();
    facts.clientWidth = ctx.GetWidth();
    facts.clientHeight = ctx.GetHeight();
    facts.vsync = ctx.GetVsync();
}

void AttachScene(EngineContext& ctx, PlayerGraphics& graphics, Scene& scene, UiState& ui,
                 ModelSettingState& modelSetting, bool& autoPlay, PlayerInterface& interface,
                 InterfaceView& view, FileDrop& drop, bool& bindFirstModel, std::int32_t shownTab) {
    ConnectSceneRenderer(ctx, graphics, scene, "qv");
    scene.hooks.applyShader = [&graphics, &scene](ModelInstance& instance, std::int32_t material,
                                                  std::int32_t shader) {
        if (graphics.sceneRenderer) {
            const HRESULT hr = graphics.sceneRenderer->ApplyShader(instance, material,
                                                                   SceneShaderSet(scene, shader));
            if (Failed(hr)) {
                std::fprintf(stderr, "qv: the shader cannot draw this material (%s)\n",
                             FormatResult(hr).c_str());
            }
        }
    };
    // The material records change only in the scene update, so the
    // interface stage may read them while the scene stage records.
    scene.hooks.materialNames = [&graphics](const ModelInstance& instance) {
        const ModelGpu* gpu =
            graphics.sceneRenderer ? graphics.sceneRenderer->Find(&instance) : nullptr;
        return gpu != nullptr ? MaterialNames(*gpu) : std::vector<std::string>{};
    };
    scene.hooks.readMaterial = [&graphics](const ModelInstance& instance, std::int32_t material,
                                           MaterialValues* out) {
        const ModelGpu* gpu =
            graphics.sceneRenderer ? graphics.sceneRenderer->Find(&instance) : nullptr;
        return gpu != nullptr && ReadMaterialValues(*gpu, material, out);
    };
    scene.hooks.writeMaterial = [&graphics](ModelInstance& instance, std::int32_t material,
                                            const MaterialValues& values) {
        if (ModelGpu* gpu =
                graphics.sceneRenderer ? graphics.sceneRenderer->Find(&instance) : nullptr) {
            WriteMaterialValues(*gpu, material, values);
        }
    };
    scene.hooks.getVsync = [&ctx] { return ctx.GetVsync(); };
    scene.hooks.setVsync = [&ctx](bool on) { ctx.SetVsync(on); };
    scene.hooks.resize = [&ctx, &graphics](std::uint32_t w, std::uint32_t h) {
        SetRenderResolution(ctx, graphics.renderer, w, h);
    };
    scene.hooks.setFullscreen = [&ctx, &graphics](bool on) {
        return Succeeded(ApplyFullscreen(ctx, graphics.renderer, on));
    };
    scene.hooks.desktopSize = [&ctx, &scene] {
        WindowRect rect;
        if (Failed(GetOutputRect(ctx, &rect))) {
            return Resolution{scene.render.renderWidth, scene.render.renderHeight};
        }
        return Resolution{static_cast<std::uint32_t>(rect.right - rect.left),
                          static_cast<std::uint32_t>(rect.bottom - rect.top)};
    };
    if (interface.Started()) {
        graphics.interface = &interface;
        graphics.recordInterface = [&ctx, &graphics, &interface, &view](VkCommandBuffer direct,
                                                                        std::uint32_t frame,
                                                                        const BackBuffer& target) {
            RefreshFacts(ctx, view.facts);
            interface.RecordInterface(view, graphics.interfaceRenderer.get(), direct, frame, target,
                                      ctx.GetFrameSeconds());
        };
    }
    InstallInputHook(ctx, scene, ui, interface.Started() ? &interface : nullptr, &drop);
    ctx.Locked([&](EngineState& s) {
        s.onFrameUpdate = [&scene, &ui, &modelSetting, &autoPlay, &interface, &drop, &view,
                           &bindFirstModel, shownTab](EngineContext& c) {
            UpdateScene(scene, ui, modelSetting, c.GetFrameSeconds());
            drop.HandOver(scene.importer);
            if (autoPlay && !scene.importer.Busy()) {
                autoPlay = false;
                StartPlaying(scene);
            }
            // `--show model-setting`: bound once the start-up files are in.
            if (bindFirstModel && !scene.importer.Busy()) {
                bindFirstModel = false;
                OpenModelSetting(view, 0);
                if (modelSetting.model != nullptr) {
                    modelSetting.tabRequest = shownTab;
                    // A material tab with something to show.
                    if (shownTab == kModelSettingMaterial && modelSetting.materialIndex < 0) {
                        ChooseMaterial(view, 0);
                    }
                }
            }
            interface.BeginFrame();
        };
    });
}

}  // namespace

int RunPlayer(const PlayerOptions& options) {
    // Made before the scene and removed after it, so the demo files outlive
    // every import of them.
    DemoFolder demo;
    std::vector<std::filesystem::path> files = options.files;
    if (options.demo) {
        std::string error;
        if (const HRESULT hr = demo.Create(&error); Failed(hr)) {
            return Report(hr, "the demo cannot be written: " + error);
        }
        files.insert(files.end(), demo.Imports().begin(), demo.Imports().end());
    }
    UiState ui;
    ShownWindows shown;
    if (std::string unknown; !OpenWindowsByName(options.showWindows, &ui, &unknown, &shown)) {
        return Report(E_INVALIDARG, "--show knows no window \"" + unknown + "\"");
    }
    // The tool windows' context and font come first: without a font there
    // is no interface, and nothing else needs to start.
    PlayerInterface interface;
    if (!options.hideInterface) {
        std::string reason;
        if (const HRESULT hr = interface.Start(&reason); Failed(hr)) {
            return Report(hr, reason);
        }
    }
    EngineContext* ctx = EngineContext::Instance();
    if (ctx == nullptr) {
        return Report(E_FAIL, "the engine has already been shut down");
    }
    PlayerGraphics graphics;
    int exitCode = 0;
    // The scene owns all content and the import thread; it runs silently
    // where there is no sound device.
    auto scene = std::make_unique<Scene>(std::make_unique<AudioEngine>());
    ModelSettingState modelSetting;
    FileDrop drop;
    InterfaceView view{*scene, ui, {}, {}};
    bool autoPlay = options.play || options.demo;
    // The browser starts in the working folder and offers the root, the home
    // folder and the mounted devices found now.
    std::error_code noFolder;
    std::filesystem::path workingFolder = std::filesystem::current_path(noFolder);
    if (noFolder) {
        workingFolder = "/";
    }
    FileBrowser browser(workingFolder, SystemBrowserDrives());
    browser.SetExtensionFilters({".pmx", ".vmd", ".wav", ".hlsl"});
    view.fileBrowser = &browser;
    view.modelSetting = &modelSetting;
    // Both run on the interface stage thread, from the navigator and the
    // resource manager.
    view.actions.openFileBrowser = [&browser] { browser.Open(); };
    view.actions.openModelSetting = [&view, &ui](std::int32_t row) {
        OpenModelSetting(view, row);
        ui.showModelSetting = true;
    };
    if (shown.fileBrowser) {
        browser.Open();
    }
    bool bindFirstModel = shown.modelSetting;

    // The Vulkan back end goes with the engine's GPU objects, the SDL back
    // end and the context after them.
    auto shutDown = [&] {
        EngineContext::Destroy();
        ReleasePlayerGraphics(graphics);
        interface.Shutdown();
        scene.reset();  // before SDL goes: its audio engine is SDL's
        SDL_Quit();
    };

    if (const HRESULT hr = RegisterPlayer(*ctx, graphics); Failed(hr)) {
        shutDown();
        return Report(hr, "the frame stages cannot be registered");
    }
    AttachScene(*ctx, graphics, *scene, ui, modelSetting, autoPlay, interface, view, drop,
                bindFirstModel, shown.modelSettingTab);
    if (!files.empty()) {
        scene->importer.Request(files);
    }
    if (options.headless) {
        ctx->SetWidth(kDefaultClientWidth);
        ctx->SetHeight(kDefaultClientHeight);
    } else if (const HRESULT hr = CreateAppWindow(*ctx, kDefaultClientWidth, kDefaultClientHeight);
               Failed(hr)) {
        shutDown();
        return Report(hr, WindowError() + "; use --headless to run without a window");
    } else if (interface.Started() && Failed(interface.AttachWindow(ctx->GetWindow()))) {
        shutDown();
        return Report(E_FAIL, "the tool windows cannot attach to the window");
    }
    const GraphicsDeviceOptions deviceOptions{
        options.headless ? PresentTarget::Headless : PresentTarget::Window,
        ValidationRequestedByEnvironment()};
    if (const HRESULT hr = CreateGraphicsDevice(*ctx, deviceOptions); Failed(hr)) {
        shutDown();
        return Report(hr, GraphicsDeviceError());
    }

    if (graphics.sceneRenderer) {
        scene->render.msaa8xAvailable = graphics.sceneRenderer->EightSamplesAvailable();
        scene->render.rayTracingAvailable = graphics.sceneRenderer->RayTracingAvailable();
    }
    if (options.rayTracing && !SwitchOnRayTracing(*scene, options.rayTracingQuality)) {
        const std::string why =
            graphics.sceneRenderer ? graphics.sceneRenderer->RayTracingError() : std::string();
        const std::string line = "--raytracing: " + ctx->GetAdapterDescription() +
                                 " cannot ray trace" + (why.empty() ? "" : ": " + why);
        shutDown();
        return Report(E_FAIL, line);
    }
    view.facts.renderDeviceName = ctx->GetAdapterDescription();
    view.facts.rayTracingSupported = scene->render.rayTracingAvailable;
    view.facts.msaa8xAvailable = scene->render.msaa8xAvailable;
    Presenter* presenter = ctx->Locked([](EngineState& s) { return s.presenter.get(); });
    const std::uint64_t frames = options.frames != 0 ? options.frames : options.headless ? 1 : 0;
    const bool wantShot = !options.screenshot.empty();
    if (wantShot && frames == 0) {
        // Without a known last frame every frame is kept until the window closes.
        presenter->SetCapture(true);
    }
    for (std::uint64_t done = 0; frames == 0 || done < frames;) {
        if (!options.headless) {
            PaceHiddenFrames(*ctx);
            if (!PumpWindowEvents(*ctx)) {
                break;
            }
        }
        if (wantShot && frames != 0 && done + 1 == frames) {
            presenter->SetCapture(true);
        }
        if (const HRESULT hr = RunFrame(*ctx); Failed(hr)) {
            exitCode = Report(hr, "the graphics device was lost");
            break;
        }
        // Automation counts frames from when the start-up files are in.
        if (!scene->importer.Busy() && !autoPlay) {
            ++done;
        }
    }
    if (!scene->importer.Status().empty()) {
        std::printf("%s\n", scene->importer.Status().c_str());
    }

    if (exitCode == 0 && wantShot) {
        WaitForGpu(*ctx);
        CapturedImage image;
        HRESULT hr = presenter->ReadBackLastPresented(&image);
        if (Failed(hr)) {
            exitCode = Report(hr, "no frame was presented to take a screenshot of");
        } else if (hr = WritePng(options.screenshot, image); Failed(hr)) {
            exitCode = Report(hr, "cannot write the screenshot to " + options.screenshot.string());
        }
    }
    shutDown();
    return exitCode;
}

}  // namespace qv
