// qv render's frame rate for Gene with a motion, split into scene, GPU wait,
// read-back and handing over per frame, with the encoding that runs alongside.
// Each run renders two seconds to an MP4.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/render_command.h"

namespace qv {

namespace {

// The engine is made once a process, so each render runs in a child of its
// own and sends its timings back through a pipe.
bool RenderInChild(const RenderOptions& options, RenderTimings* timings) {
    int ends[2];
    if (pipe(ends) != 0) {
        return false;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        RenderTimings t;
        const int code = RunRender(options, &t);
        const bool sent = code == 0 && write(ends[1], &t, sizeof t) == sizeof t;
        _exit(sent ? 0 : 1);
    }
    close(ends[1]);
    const bool read = child > 0 && ::read(ends[0], timings, sizeof *timings) == sizeof *timings;
    close(ends[0]);
    int status = 0;
    if (child > 0) {
        waitpid(child, &status, 0);
    }
    return read && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void RenderGene(benchmark::State& state) {
    const std::filesystem::path content(QV_CONTENT_DIR);
    const auto model = content / "gene" / "Gene_light.pmx";
    if (!std::filesystem::exists(model)) {
        state.SkipWithError("shared content not found");
        return;
    }
    const auto out = std::filesystem::temp_directory_path() /
                     ("qv-bench-render-" + std::to_string(::getpid()) + ".mp4");
    RenderOptions options;
    options.output = out;
    options.kind = RenderOutputKind::Mp4;
    options.files = {model, content / "gene" / "motion" / "10_impressed.vmd"};
    options.width = static_cast<std::uint32_t>(state.range(0));
    options.height = static_cast<std::uint32_t>(state.range(1));
    options.from = 1.0;
    options.to = 3.0;
    RenderTimings total;
    for (auto _ : state) {
        RenderTimings t;
        if (!RenderInChild(options, &t)) {
            state.SkipWithError("qv render failed");
            break;
        }
        total.frames += t.frames;
        total.sceneSeconds += t.sceneSeconds;
        total.gpuWaitSeconds += t.gpuWaitSeconds;
        total.readBackSeconds += t.readBackSeconds;
        total.encodeSeconds += t.encodeSeconds;
        total.encodeWaitSeconds += t.encodeWaitSeconds;
        total.totalSeconds += t.totalSeconds;
    }
    std::filesystem::remove(out);
    if (total.frames == 0) {
        return;
    }
    const double n = static_cast<double>(total.frames);
    state.counters["fps"] = n / total.totalSeconds;
    state.counters["scene_ms"] = 1e3 * total.sceneSeconds / n;
    state.counters["gpu_wait_ms"] = 1e3 * total.gpuWaitSeconds / n;
    state.counters["read_back_ms"] = 1e3 * total.readBackSeconds / n;
    state.counters["encode_ms"] = 1e3 * total.encodeSeconds / n;
    state.counters["hand_over_ms"] = 1e3 * total.encodeWaitSeconds / n;
}
BENCHMARK(RenderGene)
    ->Args({1280, 720})
    ->Args({1920, 1080})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

}  // namespace qv
