// Runs the player: start-up, its window or a headless run frame by frame, and shutdown.
#include "app/player.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>

#include "app/file_drop.h"
#include "app/input_hook.h"
#include "app/player_interface.h"
#include "core/app_window.h"
#include "core/frame_loop.h"
#include "core/presenter.h"
#include "demo/demo_content.h"
#include "formats/png_file.h"
#include "platform/mount_points.h"
#include "render/device/graphics_device.h"
#include "render/device/stage_recording.h"
#include "render/model/material_values.h"
#include "render/vk/vulkan_helpers.h"
#include "scene/import_kind.h"
#include "scene/play_everything.h"
#include "scene/scene.h"
#include "ui/file_browser.h"
#include "ui/model_setting.h"
#include "ui/window_names.h"

namespace qv {

void ClearToWhite(VkCommandBuffer, VkCommandBuffer direct, std::uint32_t,
                  const BackBuffer& target) {
    if (target.image != VK_NULL_HANDLE) {
        ClearBackBuffer(direct, target, {{1.0f, 1.0f, 1.0f, 1.0f}});
    }
}

HRESULT RenderSetUp(EngineContext& ctx, PlayerGraphics& g, VkDevice device) {
    const VkQueue queue = ctx.GetDirectQueue();
    if (device == VK_NULL_HANDLE || queue == VK_NULL_HANDLE) {
        return E_FAIL;
    }
    g.device = device;
    const GpuContext gpu =
        ctx.Locked([&](const EngineState& s) { return GpuContextOf(s, device); });
    g.sceneRenderer = std::make_unique<SceneRenderer>();
    Result made = g.sceneRenderer->Initialize(gpu);
    if (made.ok() && g.interface != nullptr && g.interface->Started()) {
        const VkInstance instance = ctx.Locked([](EngineState& s) { return s.vkInstance; });
        g.interfaceRenderer = std::make_unique<InterfaceRenderer>();
        made = g.interfaceRenderer->Initialize(instance, gpu, ctx.GetCurrentBackBuffer().format);
    }
    if (!made.ok() && !made.message.empty()) {
        std::fprintf(stderr, "qv: %s\n", made.message.c_str());
    }
    return made.code;
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
    g.device = VK_NULL_HANDLE;
}

HRESULT RegisterPlayer(EngineContext& ctx, PlayerGraphics& g) {
    PlayerGraphics* graphics = &g;
    ctx.Locked([&](EngineState& s) {
        s.onDeviceCreated = [graphics](EngineContext& c, VkDevice device) {
            return RenderSetUp(c, *graphics, device);
        };
        // The engine stops the stage threads before this, so nothing
        // records with the renderers while they go.
        s.onDeviceReleasing = [graphics](EngineContext&) { ReleasePlayerGraphics(*graphics); };
        s.onFrameUpdate = [](EngineContext& c) {
            // The scene update takes the frame time from here once it exists.
            (void)c.GetFrameSeconds();
        };
    });
    // Overlay stages would only wake every frame: nothing here draws an
    // overlay, so the player registers none.
    const StageFunction stages[] = {
        RecordingStage(
            [graphics](VkCommandBuffer compute, VkCommandBuffer direct, std::uint32_t f,
                       const BackBuffer& target) {
                graphics->recordScene(compute, direct, f, target);
            },
            StageQueues::ComputeAndDirect),
        RecordingStage(
            [graphics](VkCommandBuffer, VkCommandBuffer direct, std::uint32_t f,
                       const BackBuffer& target) {
                if (graphics->recordInterface) {
                    graphics->recordInterface(direct, f, target);
                }
            },
            StageQueues::Direct),
    };
    for (const StageFunction& stage : stages) {
        if (const HRESULT hr = AddStage(ctx, stage, StageKind::CommandList); Failed(hr)) {
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
        // The default shader set draws every model loaded from now on.
        const Result made = graphics.sceneRenderer->CreateModel(
            instance, model, SceneShaderSet(scene, scene.defaultShader), &textures);
        if (!made.ok() && !made.message.empty()) {
            std::fprintf(stderr, "%s: %s\n", program, made.message.c_str());
        }
        return made.code;
    };
    scene.releaseModelResources = [&graphics](const ModelInstance& instance) {
        if (graphics.sceneRenderer) {
            graphics.sceneRenderer->ReleaseModel(instance);
        }
    };
    scene.hooks.advanceUploads = [&graphics] {
        if (graphics.sceneRenderer) {
            graphics.sceneRenderer->AdvanceUploads();
        }
    };
    scene.hooks.rebuildAccelerationStructures = [&graphics, &scene, program] {
        if (!graphics.sceneRenderer) {
            return false;
        }
        if (const Result built = graphics.sceneRenderer->RebuildRayTracing(scene); !built.ok()) {
            std::fprintf(stderr, "%s: ray tracing is switched off: %s\n", program,
                         built.message.c_str());
            // The user sees it in the import status window as well.
            scene.importer.ShowMessage("Ray Tracing was switched off: " + built.message + ".");
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

// The engine's facts that change from frame to frame, read under one hold
// of its lock so that they belong to the same frame.
void RefreshFacts(EngineContext& ctx, InterfaceFacts& facts) {
    ctx.Locked([&](EngineState& s) {
        facts.framesPerSecond = s.framesPerSecond;
        facts.meanMilliseconds = s.meanMilliseconds;
        facts.clientWidth = s.width;
        facts.clientHeight = s.height;
        facts.vsync = s.vsync;
    });
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
            RefreshPassFigures(graphics, view.facts);
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
                PlayEverything(scene);
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

// The browser starts in the working folder, or the root where there is none.
std::filesystem::path WorkingFolder() {
    std::error_code noFolder;
    std::filesystem::path folder = std::filesystem::current_path(noFolder);
    return noFolder ? std::filesystem::path("/") : folder;
}

// The file browser and the model setting window as the interface opens them.
// Both actions run on the interface stage thread, from the navigator and the
// resource manager.
void ConnectToolWindows(InterfaceView& view, UiState& ui, FileBrowser& browser,
                        ModelSettingState& modelSetting) {
    std::vector<std::string> endings;
    for (const ImportEnding& e : ImportEndings()) {
        endings.push_back(e.ending);
    }
    browser.SetExtensionFilters(endings);
    view.fileBrowser = &browser;
    view.modelSetting = &modelSetting;
    view.actions.openFileBrowser = [&browser] { browser.Open(); };
    view.actions.openModelSetting = [&view, &ui](std::int32_t row) {
        OpenModelSetting(view, row);
        ui.showModelSetting = true;
    };
}

// The window (none headless, only its size) and the device that presents.
Result StartGraphics(EngineContext& ctx, const PlayerOptions& options, PlayerInterface& interface) {
    if (options.headless) {
        ctx.SetWidth(kDefaultClientWidth);
        ctx.SetHeight(kDefaultClientHeight);
    } else {
        const Result window = CreateAppWindow(ctx, kDefaultClientWidth, kDefaultClientHeight);
        if (!window.ok()) {
            return Result::Failure(window.code,
                                   window.message + "; use --headless to run without a window");
        }
        if (interface.Started() && Failed(interface.AttachWindow(ctx.GetWindow()))) {
            return Result::Failure(E_FAIL, "the tool windows cannot attach to the window");
        }
    }
    return CreateGraphicsDevice(ctx,
                                {options.headless ? PresentTarget::Headless : PresentTarget::Window,
                                 ValidationRequestedByEnvironment()});
}

// What the device can do, for the scene's settings and the interface's
// facts. --raytracing fails where the device cannot ray trace.
Result TakeDeviceAbilities(EngineContext& ctx, const PlayerGraphics& graphics, Scene& scene,
                           InterfaceFacts& facts, const PlayerOptions& options) {
    if (graphics.sceneRenderer) {
        scene.render.msaa8xAvailable = graphics.sceneRenderer->EightSamplesAvailable();
        scene.render.rayTracingAvailable = graphics.sceneRenderer->RayTracingAvailable();
    }
    if (options.rayTracing && !SwitchOnRayTracing(scene, options.rayTracingQuality)) {
        const std::string why =
            graphics.sceneRenderer ? graphics.sceneRenderer->RayTracingError() : std::string();
        return Result::Failure(E_FAIL, "--raytracing: " + ctx.GetAdapterDescription() +
                                           " cannot ray trace" + (why.empty() ? "" : ": " + why));
    }
    facts.renderDeviceName = ctx.GetAdapterDescription();
    facts.rayTracingSupported = scene.render.rayTracingAvailable;
    facts.msaa8xAvailable = scene.render.msaa8xAvailable;
    return {};
}

// Frames until the count asked for is done or the window closes; automation
// counts frames from when the start-up files are in and drawn. Returns the
// exit code.
int RunFrames(EngineContext& ctx, const PlayerOptions& options, Scene& scene, const bool& autoPlay,
              const PlayerGraphics& graphics) {
    // Tests that drive the window drop files through this list.
    const char* dropList = options.headless ? nullptr : std::getenv("QV_TEST_DROP_LIST");
    const std::uint64_t frames = options.frames != 0 ? options.frames : options.headless ? 1 : 0;
    const bool wantShot = !options.screenshot.empty();
    if (wantShot && frames == 0) {
        // Without a known last frame every frame is kept until the window closes.
        ctx.GetPresenter()->SetCapture(true);
    }
    for (std::uint64_t done = 0; frames == 0 || done < frames;) {
        if (!options.headless) {
            PaceHiddenFrames(ctx);
            if (dropList != nullptr) {
                PostDropList(dropList, SDL_GetWindowID(ctx.GetWindow()));
            }
            if (!PumpWindowEvents(ctx)) {
                break;
            }
        }
        if (wantShot && frames != 0 && done + 1 == frames) {
            ctx.GetPresenter()->SetCapture(true);
        }
        if (const HRESULT hr = RunFrame(ctx); Failed(hr)) {
            return Report(hr, "the graphics device was lost");
        }
        if (!scene.importer.Busy() && !autoPlay &&
            !(graphics.sceneRenderer && graphics.sceneRenderer->UploadsUnderWay())) {
            ++done;
        }
    }
    return 0;
}

// The last presented frame as a PNG. Returns the exit code.
int WriteScreenshot(EngineContext& ctx, const std::filesystem::path& file) {
    WaitForGpu(ctx);
    CapturedImage image;
    if (const HRESULT hr = ctx.GetPresenter()->ReadBackLastPresented(&image); Failed(hr)) {
        return Report(hr, "no frame was presented to take a screenshot of");
    }
    if (const HRESULT hr = WritePng(file, image); Failed(hr)) {
        return Report(hr, "cannot write the screenshot to " + file.string());
    }
    return 0;
}

}  // namespace

int RunPlayer(const PlayerOptions& options) {
    // Made before the scene and removed after it, so the demo files outlive
    // every import of them.
    DemoFolder demo;
    std::vector<std::filesystem::path> files = options.files;
    if (options.demo) {
        if (const Result created = demo.Create(); !created.ok()) {
            return Report(created.code, "the demo cannot be written: " + created.message);
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
        if (const Result started = interface.Start(); !started.ok()) {
            return Report(started.code, started.message);
        }
    }
    EngineContext* ctx = EngineContext::Instance();
    if (ctx == nullptr) {
        return Report(E_FAIL, "the engine has already been shut down");
    }
    PlayerGraphics graphics;
    // The scene owns all content and the import thread; it runs silently
    // where there is no sound device.
    auto scene = std::make_unique<Scene>(std::make_unique<AudioEngine>());
    scene->playback.loop = options.loop;
    ModelSettingState modelSetting;
    FileDrop drop;
    InterfaceView view{*scene, ui, {}, {}};
    bool autoPlay = StartsPlaying(options);
    // The browser offers the root, the home folder and the mounted devices
    // found now.
    FileBrowser browser(WorkingFolder(), SystemBrowserDrives());
    ConnectToolWindows(view, ui, browser, modelSetting);
    if (shown.fileBrowser) {
        browser.Open();
    }
    bool bindFirstModel = shown.modelSetting;

    // The Vulkan back end goes with the engine's GPU objects, the SDL back
    // end and the context after them.
    auto releaseDevice = [&] {
        EngineContext::Destroy();
        ReleasePlayerGraphics(graphics);
        interface.Shutdown();
    };
    auto shutDown = [&] {
        releaseDevice();
        scene.reset();  // before SDL goes: its audio engine is SDL's
        SDL_Quit();
    };
    auto fail = [&](const Result& failure) {
        shutDown();
        return Report(failure.code, failure.message);
    };

    if (const HRESULT hr = RegisterPlayer(*ctx, graphics); Failed(hr)) {
        return fail(Result::Failure(hr, "the frame stages cannot be registered"));
    }
    AttachScene(*ctx, graphics, *scene, ui, modelSetting, autoPlay, interface, view, drop,
                bindFirstModel, shown.modelSettingTab);
    if (!files.empty()) {
        scene->importer.Request(files);
    }
    if (const Result started = StartGraphics(*ctx, options, interface); !started.ok()) {
        return fail(started);
    }
    if (const Result abilities = TakeDeviceAbilities(*ctx, graphics, *scene, view.facts, options);
        !abilities.ok()) {
        return fail(abilities);
    }
    int exitCode = RunFrames(*ctx, options, *scene, autoPlay, graphics);
    if (!scene->importer.Status().empty()) {
        std::printf("%s\n", scene->importer.Status().c_str());
    }
    if (exitCode == 0 && !options.screenshot.empty()) {
        exitCode = WriteScreenshot(*ctx, options.screenshot);
    }
    if (scene->importer.Busy()) {
        // An import still reading at the close is abandoned, not waited for:
        // nothing of it would be kept, and one large model takes seconds.
        // The device and the window go back as usual; the import thread
        // ends with the process.
        releaseDevice();
        demo.Remove();
        std::fflush(nullptr);
        std::_Exit(exitCode);
    }
    shutDown();
    return exitCode;
}

}  // namespace qv
