// `qv render`: a video of the content, every frame made exactly at its time.
#include "app/render_command.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <thread>

#include "app/frame_output.h"
#include "app/player.h"
#include "app/queued_frame_output.h"
#include "app/render_inputs.h"
#include "app/render_progress.h"
#include "core/frame_loop.h"
#include "core/presenter.h"
#include "demo/demo_content.h"
#include "platform/perf_counter.h"
#include "platform/wav_file.h"
#include "render/device/graphics_device.h"
#include "render/device/headless_presenter.h"
#include "runtime/motion.h"
#include "scene/fixed_clock.h"
#include "scene/play_everything.h"
#include "scene/scene.h"

namespace qv {

namespace {

// The size the device starts at, before its limits are known: a requested
// size the device cannot draw is refused before it is ever allocated.
constexpr std::uint32_t kProbeSide = 64;
constexpr float kDegreesToRadians = 3.14159265358979f / 180.0f;
// Frames between the read-back and the file: one being encoded while the
// next ones are drawn and read back. More would only hold memory, as the
// encoder keeps pace or the frame loop waits for it either way.
constexpr std::size_t kFramesQueuedForOutput = 3;
// Ctrl-C's usual exit status: killed by signal 2.
constexpr int kInterruptedExit = 130;

std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
    gInterrupted.store(true);
}

// Says why on standard error; the code becomes the exit code.
int Fail(const Result& failure) {
    std::fprintf(stderr, "qv render: %s\n", failure.message.c_str());
    return static_cast<int>(failure.code);
}

void PlaceFixedCamera(Camera& camera, const FixedCameraPlacement& p) {
    camera.baseTarget = {p.targetX, p.targetY, p.targetZ, 0.0f};
    camera.baseEye = {p.targetX, p.targetY, p.targetZ - p.distance, 0.0f};
    camera.yaw = p.yawDegrees * kDegreesToRadians;
    camera.pitch = std::clamp(p.pitchDegrees * kDegreesToRadians, camera.minPitch, camera.maxPitch);
    camera.zoom = 0.0f;
    camera.pan = {};
    UpdateCamera(camera);
}

// The camera of the frame at `seconds`: where --camera put it; else the
// camera motion's keys at exactly that time (its light keys too); else where
// the player's camera starts.
void DriveCamera(Scene& scene, const RenderOptions& options, double seconds) {
    if (options.camera) {
        PlaceFixedCamera(scene.stage.camera, *options.camera);
        return;
    }
    scene.stage.stageMotionTime = static_cast<float>(seconds);
    UpdateStageMotion(scene);
}

// --shader: the named set on every material of every model.
Result ApplyShaderByName(Scene& scene, PlayerGraphics& graphics, const std::string& name) {
    std::int32_t index = -1;
    std::string known;
    for (std::size_t i = 0; i < scene.shaders.size(); ++i) {
        known += (i ? ", \"" : "\"") + scene.shaders[i].entry.name + "\"";
        if (scene.shaders[i].entry.name == name) {
            index = static_cast<std::int32_t>(i);
        }
    }
    if (index < 0) {
        return Result::Failure(
            E_INVALIDARG, "--shader knows no shader \"" + name + "\" (it knows " + known + ")");
    }
    scene.defaultShader = index;
    for (auto& model : scene.models) {
        const ModelGpu* gpu = graphics.sceneRenderer->Find(model.instance.get());
        const std::size_t materials = gpu != nullptr ? gpu->materials.size() : 0;
        for (std::size_t m = 0; m < materials; ++m) {
            const HRESULT hr = graphics.sceneRenderer->ApplyShader(
                *model.instance, static_cast<std::int32_t>(m), SceneShaderSet(scene, index));
            if (Failed(hr)) {
                return Result::Failure(E_INVALIDARG, "the shader \"" + name +
                                                         "\" cannot draw this model (" +
                                                         FormatResult(hr) + ")");
            }
        }
    }
    return {};
}

// The end of the default span: the longest motion or the song.
double ContentEnd(const Scene& scene, const WavAudio* song) {
    double end = 0.0;
    for (const auto& model : scene.models) {
        end = std::max(end, static_cast<double>(model.instance->motion.end));
    }
    if (song != nullptr && song->sampleRate > 0) {
        end = std::max(end, static_cast<double>(song->frameCount()) / song->sampleRate);
    }
    return end;
}

// Ctrl-C asks the frame loop to stop for as long as this lives.
class InterruptGuard {
public:
    InterruptGuard() {
        gInterrupted.store(false);
        struct sigaction action = {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previous_);
    }
    ~InterruptGuard() { sigaction(SIGINT, &previous_, nullptr); }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    struct sigaction previous_ = {};
};

// Everything that lives for one render, released in the right order.
struct RenderSession {
    DemoFolder demo;
    EngineContext* ctx = nullptr;
    // The offscreen images a headless device presents to, and copies into
    // memory behind each frame.
    HeadlessPresenter* presenter = nullptr;
    PlayerGraphics graphics;
    std::unique_ptr<Scene> scene;

    ~RenderSession() {
        EngineContext::Destroy();
        ReleasePlayerGraphics(graphics);
        scene.reset();
    }
};

// The engine, a scene without a sound device (the song is encoded, never
// played) and a headless device that can draw the requested size.
Result StartDevice(RenderSession& session, const RenderOptions& options) {
    session.ctx = EngineContext::Instance();
    if (session.ctx == nullptr) {
        return Result::Failure(E_FAIL, "the engine has already been shut down");
    }
    EngineContext& ctx = *session.ctx;
    session.scene = std::make_unique<Scene>(nullptr);
    if (const HRESULT hr = RegisterPlayer(ctx, session.graphics); Failed(hr)) {
        return Result::Failure(hr, "the frame stages cannot be registered");
    }
    ConnectSceneRenderer(ctx, session.graphics, *session.scene, "qv render");
    ctx.SetWidth(kProbeSide);
    ctx.SetHeight(kProbeSide);
    const GraphicsDeviceOptions deviceOptions{PresentTarget::Headless,
                                              ValidationRequestedByEnvironment()};
    if (Result device = CreateGraphicsDevice(ctx, deviceOptions); !device.ok()) {
        return device;
    }
    // A headless device always presents through a HeadlessPresenter.
    session.presenter = static_cast<HeadlessPresenter*>(ctx.GetPresenter());
    std::uint32_t maxWidth = 0, maxHeight = 0;
    session.presenter->MaxSize(&maxWidth, &maxHeight);
    if (options.width > maxWidth || options.height > maxHeight) {
        return Result::Failure(E_INVALIDARG,
                               "--size " + std::to_string(options.width) + "x" +
                                   std::to_string(options.height) + " is above the device's " +
                                   std::to_string(maxWidth) + "x" + std::to_string(maxHeight));
    }
    return {};
}

// The drawing size, anti-aliasing and ray tracing the options ask for.
Result ApplyDisplayOptions(RenderSession& session, const RenderOptions& options) {
    Scene& scene = *session.scene;
    if (const HRESULT hr = SetRenderResolution(*session.ctx, session.graphics.renderer,
                                               options.width, options.height);
        Failed(hr)) {
        return Result::Failure(hr, "the device cannot draw at " + std::to_string(options.width) +
                                       "x" + std::to_string(options.height));
    }
    scene.render.renderWidth = options.width;
    scene.render.renderHeight = options.height;
    SetCameraViewport(scene.stage.camera, options.width, options.height);
    scene.render.antiAliasingMode = options.antiAliasingMode;
    if (session.graphics.sceneRenderer) {
        scene.render.msaa8xAvailable = session.graphics.sceneRenderer->EightSamplesAvailable();
        scene.render.rayTracingAvailable = session.graphics.sceneRenderer->RayTracingAvailable();
    }
    // The structures are built by the scene update that brings the models.
    if (options.rayTracing && !SwitchOnRayTracing(scene, options.rayTracingQuality)) {
        return Result::Failure(
            E_FAIL, "--raytracing: " + session.ctx->GetAdapterDescription() + " cannot ray trace");
    }
    return {};
}

// Imports as the player does, between frames on this thread, then starts
// everything playing.
Result LoadContent(RenderSession& session, const RenderOptions& options,
                   const std::vector<std::filesystem::path>& imports) {
    Scene& scene = *session.scene;
    UiState ui;
    ModelSettingState modelSetting;
    scene.importer.Request(imports);
    while (scene.importer.Busy()) {
        UpdateScene(scene, ui, modelSetting, 0.0f);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    UpdateScene(scene, ui, modelSetting, 0.0f);
    // A video shows every model from its first frame on.
    if (session.graphics.sceneRenderer) {
        session.graphics.sceneRenderer->FinishUploads();
    }
    if (scene.models.empty() && scene.accessories.empty()) {
        return Result::Failure(E_FAIL, "no model could be loaded: " + scene.importer.Status());
    }
    if (!options.shader.empty()) {
        if (Result applied = ApplyShaderByName(scene, session.graphics, options.shader);
            !applied.ok()) {
            return applied;
        }
    }
    PlayEverything(scene);
    return {};
}

// The number of frames from --from to --to, or to the content's end.
Result CountFrames(const Scene& scene, const RenderOptions& options, const WavAudio* song,
                   std::uint64_t* total) {
    const double end = options.to.value_or(ContentEnd(scene, song));
    if (end <= options.from) {
        return Result::Failure(E_INVALIDARG, options.to
                                                 ? "--to must come after --from"
                                                 : "nothing to render: the content ends at " +
                                                       FormatLength(end) + ", give --to");
    }
    *total = static_cast<std::uint64_t>(std::ceil((end - options.from) * options.fps - 1e-6));
    return {};
}

// The frames of a render as they pass from the GPU to the output: frames
// [handed, drawn) are drawn and not yet handed over, each with the number of
// its present.
struct FramesInFlight {
    std::uint64_t drawn = 0;  // the frame update draws frame `drawn`
    std::uint64_t handed = 0;
    std::array<std::uint64_t, kFrameCount> presents{};  // by frame % kFrameCount
};

// Records and submits the next frame; the only wait is for the frame that
// last drew into the back buffer after this one's, if it is still in flight.
Result DrawFrame(RenderSession& session, FramesInFlight& f, RenderTimings& t) {
    auto mark = std::chrono::steady_clock::now();
    if (const std::uint64_t next = f.drawn + 1; next >= kFrameCount + f.handed) {
        // The frame loop would wait for it at the end of this frame; waiting
        // here costs the GPU nothing, as it has the frames after it queued,
        // and shows the wait as the GPU's.
        session.presenter->WaitForPresented(f.presents[(next - kFrameCount) % kFrameCount]);
        t.gpuWaitSeconds += SecondsSince(mark);
        mark = std::chrono::steady_clock::now();
    }
    const std::uint64_t present = session.presenter->PresentedCount();
    if (const HRESULT hr = RunFrame(*session.ctx); Failed(hr)) {
        return Result::Failure(hr, "the graphics device was lost");
    }
    t.sceneSeconds += SecondsSince(mark);
    if (session.presenter->PresentedCount() != present + 1) {
        return Result::Failure(E_FAIL, "a frame was drawn but never presented");
    }
    f.presents[f.drawn % kFrameCount] = present;
    ++f.drawn;
    return {};
}

// Waits for the oldest frame in flight alone and hands its picture over.
Result HandOverFrame(RenderSession& session, QueuedFrameOutput& output, FramesInFlight& f,
                     CapturedImage& image, RenderTimings& t) {
    const std::uint64_t present = f.presents[f.handed % kFrameCount];
    auto mark = std::chrono::steady_clock::now();
    HRESULT hr = session.presenter->WaitForPresented(present);
    t.gpuWaitSeconds += SecondsSince(mark);
    mark = std::chrono::steady_clock::now();
    if (Succeeded(hr)) {
        hr = session.presenter->ReadBackPresented(present, &image);
    }
    if (Failed(hr)) {
        return Result::Failure(hr, "a frame cannot be read back (" + FormatResult(hr) + ")");
    }
    t.readBackSeconds += SecondsSince(mark);
    mark = std::chrono::steady_clock::now();
    if (Result wrote = output.WriteTaking(image, f.handed); !wrote.ok()) {
        return wrote;
    }
    t.encodeWaitSeconds += SecondsSince(mark);
    ++f.handed;
    return {};
}

// Draws frames until `total` or Ctrl-C, keeping up to `inFlight` of them
// drawn ahead of the one handed over, and hands them over in order: the GPU
// draws the next frames while one is read back and encoded. A frame that
// cannot be drawn ends the drawing; the frames before it are still handed
// over. How the frame loop ended: success after the last frame or Ctrl-C.
Result RenderFrames(RenderSession& session, QueuedFrameOutput& output, std::uint64_t total,
                    std::uint32_t inFlight, FramesInFlight& f, RenderTimings& t) {
    Result end;
    ProgressPacer pacer(isatty(STDERR_FILENO) == 1);
    const auto started = std::chrono::steady_clock::now();
    CapturedImage image;
    bool drawing = true;
    for (;;) {
        drawing = drawing && f.drawn < total && !gInterrupted.load();
        if (drawing && f.drawn - f.handed < inFlight) {
            end = DrawFrame(session, f, t);
            drawing = end.ok();
            continue;
        }
        if (f.handed == f.drawn) {
            break;
        }
        if (Result handed = HandOverFrame(session, output, f, image, t); !handed.ok()) {
            end = end.ok() ? handed : end;
            break;
        }
        const std::string line = pacer.Update(f.handed, total, SecondsSince(started));
        std::fputs(line.c_str(), stderr);
    }
    t.frames = f.handed;
    t.totalSeconds = SecondsSince(started);
    if (isatty(STDERR_FILENO) == 1) {
        std::fputs("\n", stderr);
    }
    return end;
}

// Closes the output and says how the render went; returns the exit code.
// `t` gains the frames that made it into the output and the encoding time.
int FinishRender(const RenderOptions& options, QueuedFrameOutput& output, const Result& end,
                 RenderTimings& t) {
    // Frames handed over after one that failed never reach the file; the
    // summary counts what is in it.
    const auto finishing = std::chrono::steady_clock::now();
    const Result finished = output.Finish(t.frames);
    t.totalSeconds += SecondsSince(finishing);
    t.frames = output.FramesWritten();
    t.encodeSeconds = output.WriteSeconds();
    const std::uint64_t frame = t.frames;
    const double length = static_cast<double>(frame) / options.fps;
    const std::string what = options.output.string() + ": " + std::to_string(frame) + " frames, " +
                             FormatLength(length) + " at " + std::to_string(options.fps) +
                             " fps, " + std::to_string(options.width) + "x" +
                             std::to_string(options.height) + ", " +
                             FormatSize(output.BytesWritten());
    if (!end.ok() || !finished.ok()) {
        const Result& failure = !end.ok() ? end : finished;
        std::fprintf(stderr, "qv render: %s; the output was closed after %llu frames (%s)\n",
                     failure.message.c_str(), static_cast<unsigned long long>(frame),
                     FormatLength(length).c_str());
        return static_cast<int>(failure.code);
    }
    if (gInterrupted.load()) {
        std::printf("Stopped by Ctrl-C; wrote the frames done to %s\n", what.c_str());
        return kInterruptedExit;
    }
    std::printf("Wrote %s\n", what.c_str());
    if (frame > 0) {
        const double n = static_cast<double>(frame);
        std::printf(
            "%.1f frames a second; per frame: scene %.1f ms, GPU wait %.1f ms, read-back %.1f "
            "ms, handing over %.1f ms; encoding alongside %.1f ms\n",
            n / t.totalSeconds, 1e3 * t.sceneSeconds / n, 1e3 * t.gpuWaitSeconds / n,
            1e3 * t.readBackSeconds / n, 1e3 * t.encodeWaitSeconds / n, 1e3 * t.encodeSeconds / n);
    }
    return 0;
}

}  // namespace

int RunRender(const RenderOptions& options, RenderTimings* timings) {
    RenderSession session;
    RenderInputs inputs;
    if (const Result gathered = GatherInputs(options, session.demo, &inputs); !gathered.ok()) {
        return Fail(gathered);
    }
    if (const Result started = StartDevice(session, options); !started.ok()) {
        return Fail(started);
    }
    // The device can draw the size: now the output, so that a path that
    // cannot be written stops the render before any import or frame.
    const auto output = std::make_unique<QueuedFrameOutput>(
        MakeFrameOutput(options, inputs.song.get()), kFramesQueuedForOutput);
    if (const Result opened = output->Open(); !opened.ok()) {
        output->Discard();
        return Fail(opened);
    }
    // From here every early return discards the output it made, and Ctrl-C
    // ends the render with the frames done so far in a finished file.
    InterruptGuard interruptGuard;
    std::uint64_t total = 0;
    Result prepared = ApplyDisplayOptions(session, options);
    if (prepared.ok()) {
        prepared = LoadContent(session, options, inputs.imports);
    }
    if (prepared.ok()) {
        prepared = CountFrames(*session.scene, options, inputs.song.get(), &total);
    }
    if (prepared.ok()) {
        if (const HRESULT hr = session.presenter->CopyEveryPresent(true); Failed(hr)) {
            prepared = Result::Failure(
                hr, "no memory to read the frames back into (" + FormatResult(hr) + ")");
        }
    }
    if (!prepared.ok()) {
        output->Discard();
        return Fail(prepared);
    }

    Scene& scene = *session.scene;
    FixedClock clock;
    clock.start = options.from;
    clock.fps = options.fps;
    SettleAtStart(scene, clock);
    FramesInFlight frames;
    session.ctx->Locked([&](EngineState& s) {
        s.onFrameUpdate = [&](EngineContext&) {
            AdvanceToFrame(scene, clock, frames.drawn);
            DriveCamera(scene, options, options.from + FrameTime(clock, frames.drawn));
        };
    });
    RenderTimings t;
    static_assert(kMaxFramesInFlight <= kFrameCount);
    const std::uint32_t inFlight = std::clamp(options.framesInFlight, 1u, kMaxFramesInFlight);
    const Result end = RenderFrames(session, *output, total, inFlight, frames, t);
    const int code = FinishRender(options, *output, end, t);
    if (timings != nullptr) {
        *timings = t;
    }
    return code;
}

int RunRenderCommand(int argc, const char* const* argv) {
    RenderOptions options;
    if (const Result parsed = ParseRenderOptions(argc - 1, argv + 1, &options); !parsed.ok()) {
        return Fail(parsed);
    }
    if (options.help) {
        std::fputs(kRenderUsage, stdout);
        return 0;
    }
    return RunRender(options);
}

}  // namespace qv
