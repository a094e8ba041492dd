// Reads the player's command line and switches ray tracing on the way its settings window does.
#include "app/player_options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

#include "scene/import_kind.h"
#include "scene/scene.h"
#include "scene/ui_state.h"
#include "ui/window_names.h"

namespace qv {

const char* const kUsage =
    "Usage: qv [options] [FILE...]\n"
    "Opens the player window and imports the given files (.pmx and .pmd models, .vmd\n"
    "motions, .vpd poses, songs in .wav, .mp3, .m4a, .ogg, .opus or .flac, .hlsl effect\n"
    "shaders, .x accessories) as one batch, and plays them when a motion is among them.\n"
    "  --play             once the files are in, add every motion to every model,\n"
    "                     select the first song, let the first motion with camera\n"
    "                     keys drive the camera, and start playing\n"
    "  --demo             play the built-in demo: a figure dancing to a beat\n"
    "  --loop             start again from the beginning at the end of the dance\n"
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
    "  --version          show the version\n"
    "Set QV_VALIDATION=1 to run with the Vulkan validation layer.\n"
    "qv render OUT [FILE...] makes a video of the files instead: see qv render --help.\n";

Result ParseOptions(int argc, const char* const* argv, PlayerOptions* options) {
    *options = {};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            options->help = true;
        } else if (arg == "--version") {
            options->version = true;
        } else if (arg == "--headless") {
            options->headless = true;
        } else if (arg == "--frames") {
            const char* text = hasValue ? argv[++i] : "";
            const char* end = text + std::strlen(text);
            std::uint64_t n = 0;
            auto [ptr, ec] = std::from_chars(text, end, n);
            if (ec != std::errc() || ptr != end || n == 0) {
                return Result::Failure(E_INVALIDARG, "--frames needs a whole number above 0");
            }
            options->frames = n;
        } else if (arg == "--screenshot") {
            if (!hasValue || argv[i + 1][0] == '\0') {
                return Result::Failure(E_INVALIDARG, "--screenshot needs a file name");
            }
            options->screenshot = argv[++i];
        } else if (arg == "--show") {
            if (!hasValue || argv[i + 1][0] == '\0') {
                return Result::Failure(E_INVALIDARG,
                                       std::string("--show needs window names: ") + kWindowNames);
            }
            UiState probe;
            std::string unknown;
            if (!OpenWindowsByName(argv[i + 1], &probe, &unknown)) {
                return Result::Failure(E_INVALIDARG, "--show knows no window \"" + unknown +
                                                         "\" (it knows " + kWindowNames + ")");
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
                return Result::Failure(E_INVALIDARG,
                                       "--rt-quality needs LOW, MEDIUM, HIGH or ULTRA");
            }
        } else if (arg == "--play") {
            options->play = true;
        } else if (arg == "--demo") {
            options->demo = true;
        } else if (arg == "--loop") {
            options->loop = true;
        } else if (!arg.starts_with("--")) {
            options->files.emplace_back(arg);
        } else {
            return Result::Failure(E_INVALIDARG, "unknown option " + arg + " (see qv --help)");
        }
    }
    return {};
}

bool StartsPlaying(const PlayerOptions& options) {
    return options.play || options.demo ||
           std::any_of(options.files.begin(), options.files.end(),
                       [](const auto& file) { return ImportKindOf(file) == ImportKind::Motion; });
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

}  // namespace qv
