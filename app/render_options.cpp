// What `qv render` is asked to make: its command line, read and checked.
#include "app/render_options.h"
#include "app/player.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace qv {

const char* const kRenderUsage =
    "Usage: qv render OUT [FILE...] [options]\n"
    "Renders the given files (.pmx models, .x accessories, .vmd motions, one song in\n"
    ".wav, .mp3, .m4a, .ogg, .opus or .flac, .hlsl effect shaders) into a video, every\n"
    "motion on every model, each frame at its exact time.\n"
    "OUT names the output by its ending: NAME.mp4 (H.264 with the song as AAC),\n"
    "NAME.mkv (the same in Matroska) or NAME%05d.png (numbered PNG pictures).\n"
    "  --demo             render the built-in demo: a figure dancing to a beat\n"
    "  --from SECONDS     start time (default 0)\n"
    "  --to SECONDS       end time (default: the longest motion or the song)\n"
    "  --size WxH         picture size (default 1920x1080; even sides for video)\n"
    "  --fps N            frames per second (default 30)\n"
    "  --quality Q        fast, default or best: encoding time against file size and\n"
    "                     detail (video only)\n"
    "  --aa MODE          none, fxaa-low, fxaa-high, msaa4x (default), msaa8x\n"
    "  --shader NAME      draw every model with this shader set\n"
    "  --raytracing       ray trace the frames (where the device can; MSAA becomes none)\n"
    "  --rt-quality LOW|MEDIUM|HIGH|ULTRA\n"
    "                     ray-traced diffuse and shadow samples: 4, 8, 12 or 16\n"
    "  --camera D,YAW,PITCH[,X,Y,Z]\n"
    "                     a fixed camera D units from the point X,Y,Z (default\n"
    "                     0,10,0), turned YAW and PITCH degrees\n"
    "  --frames-in-flight N\n"
    "                     frames drawn ahead while earlier ones are saved, 1 to 3\n"
    "                     (default 3; 1 draws one frame at a time, the same pictures)\n"
    "  --help             show this text\n"
    "Ctrl-C stops early and still leaves a playable video of the frames done.\n";

namespace {

bool ParseDouble(const char* text, double* value) {
    const char* end = text + std::strlen(text);
    auto [ptr, ec] = std::from_chars(text, end, *value);
    return ec == std::errc() && ptr == end && std::isfinite(*value);
}

bool ParseUnsigned(std::string_view text, std::uint32_t* value) {
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return ec == std::errc() && ptr == text.data() + text.size() && !text.empty();
}

bool ParseFloats(const std::string& text, std::vector<float>* values) {
    std::size_t begin = 0;
    for (;;) {
        const std::size_t comma = text.find(',', begin);
        const std::string part = text.substr(begin, comma - begin);
        float v = 0.0f;
        auto [ptr, ec] = std::from_chars(part.data(), part.data() + part.size(), v);
        if (ec != std::errc() || ptr != part.data() + part.size() || part.empty() ||
            !std::isfinite(v)) {
            return false;
        }
        values->push_back(v);
        if (comma == std::string::npos) {
            return true;
        }
        begin = comma + 1;
    }
}

struct AntiAliasingName {
    const char* name;
    std::int32_t mode;
};
// In the order and with the values of the renderer's AntiAliasingMode.
constexpr AntiAliasingName kAntiAliasingNames[] = {
    {"none", 0}, {"fxaa-low", 1}, {"fxaa-high", 2}, {"msaa4x", 3}, {"msaa8x", 4}};

// Every option's failure is a bad argument.
Result Fail(std::string text) {
    return Result::Failure(E_INVALIDARG, std::move(text));
}

Result SetOutput(const std::string& name, RenderOptions* o) {
    const std::filesystem::path path(name);
    const std::string ext = path.extension().string();
    if (ext == ".mp4") {
        o->kind = RenderOutputKind::Mp4;
    } else if (ext == ".mkv") {
        o->kind = RenderOutputKind::Mkv;
    } else if (ext == ".png") {
        if (!FrameFileName(path.filename().string(), 0)) {
            return Fail(
                "a PNG output needs one frame number in its name, as in "
                "frame%05d.png: " +
                name);
        }
        o->kind = RenderOutputKind::PngSequence;
    } else {
        return Fail("cannot tell the output format from " + name +
                    " (use .mp4, .mkv or NAME%05d.png)");
    }
    o->output = path;
    return {};
}

Result ReadRayTracingQuality(const std::string&, const char* value, RenderOptions* o) {
    if (!ParseRayTracingQuality(value, &o->rayTracingQuality)) {
        return Fail("--rt-quality needs LOW, MEDIUM, HIGH or ULTRA");
    }
    return {};
}

Result ReadTime(const std::string& arg, const char* value, RenderOptions* o) {
    double seconds = 0.0;
    if (!ParseDouble(value, &seconds) || seconds < 0.0) {
        return Fail(arg + " needs a time in seconds, 0 or more");
    }
    (arg == "--from" ? o->from : o->to.emplace()) = seconds;
    return {};
}

Result ReadSize(const std::string&, const char* value, RenderOptions* o) {
    const std::string_view text(value);
    const std::size_t x = text.find('x');
    if (x == std::string_view::npos || !ParseUnsigned(text.substr(0, x), &o->width) ||
        !ParseUnsigned(text.substr(x + 1), &o->height) || o->width == 0 || o->height == 0) {
        return Fail("--size needs a size such as 1280x720");
    }
    if (o->width > kMaxRenderSide || o->height > kMaxRenderSide) {
        return Fail("--size " + std::string(value) + " is larger than any device draws");
    }
    return {};
}

std::string FpsNeeds() {
    return "a whole number from 1 to " + std::to_string(kMaxRenderFps);
}

Result ReadFps(const std::string&, const char* value, RenderOptions* o) {
    if (!ParseUnsigned(value, &o->fps) || o->fps == 0 || o->fps > kMaxRenderFps) {
        return Fail("--fps needs " + FpsNeeds());
    }
    return {};
}

std::string FramesInFlightNeeds() {
    return "a whole number from 1 to " + std::to_string(kMaxFramesInFlight);
}

Result ReadFramesInFlight(const std::string&, const char* value, RenderOptions* o) {
    if (!ParseUnsigned(value, &o->framesInFlight) || o->framesInFlight == 0 ||
        o->framesInFlight > kMaxFramesInFlight) {
        return Fail("--frames-in-flight needs " + FramesInFlightNeeds());
    }
    return {};
}

Result ReadAntiAliasing(const std::string&, const char* value, RenderOptions* o) {
    for (const AntiAliasingName& entry : kAntiAliasingNames) {
        if (std::strcmp(entry.name, value) == 0) {
            o->antiAliasingMode = entry.mode;
            return {};
        }
    }
    return Fail(std::string("--aa knows no mode \"") + value +
                "\" (none, fxaa-low, fxaa-high, msaa4x, msaa8x)");
}

struct QualityName {
    const char* name;
    PictureQuality quality;
};
constexpr QualityName kQualityNames[] = {{"fast", PictureQuality::Fast},
                                         {"default", PictureQuality::Default},
                                         {"best", PictureQuality::Best}};

Result ReadQuality(const std::string&, const char* value, RenderOptions* o) {
    for (const QualityName& entry : kQualityNames) {
        if (std::strcmp(entry.name, value) == 0) {
            o->quality = entry.quality;
            return {};
        }
    }
    return Fail(std::string("--quality knows no setting \"") + value + "\" (fast, default, best)");
}

Result ReadShader(const std::string&, const char* value, RenderOptions* o) {
    if (value[0] == '\0') {
        return Fail("--shader needs a shader name");
    }
    o->shader = value;
    return {};
}

constexpr const char* kCameraNeeds = "distance,yaw,pitch[,x,y,z] with a distance above 0";

Result ReadCamera(const std::string&, const char* value, RenderOptions* o) {
    std::vector<float> v;
    if (!ParseFloats(value, &v) || (v.size() != 3 && v.size() != 6) || v[0] <= 0.0f) {
        return Fail(std::string("--camera needs ") + kCameraNeeds);
    }
    FixedCameraPlacement c;
    c.distance = v[0];
    c.yawDegrees = v[1];
    c.pitchDegrees = v[2];
    if (v.size() == 6) {
        c.targetX = v[3];
        c.targetY = v[4];
        c.targetZ = v[5];
    }
    o->camera = c;
    return {};
}

// An option that takes the next argument as its value: what that value is,
// for the message when it is missing, and how it is read.
struct ValueOption {
    const char* name;
    std::string needs;
    Result (*read)(const std::string& arg, const char* value, RenderOptions* o);
};

const ValueOption* FindValueOption(const std::string& arg) {
    static const ValueOption kOptions[] = {
        {"--rt-quality", "LOW, MEDIUM, HIGH or ULTRA", ReadRayTracingQuality},
        {"--from", "a time in seconds", ReadTime},
        {"--to", "a time in seconds", ReadTime},
        {"--size", "a size such as 1280x720", ReadSize},
        {"--fps", FpsNeeds(), ReadFps},
        {"--aa", "a mode: none, fxaa-low, fxaa-high, msaa4x or msaa8x", ReadAntiAliasing},
        {"--quality", "fast, default or best", ReadQuality},
        {"--shader", "a shader name", ReadShader},
        {"--camera", kCameraNeeds, ReadCamera},
        {"--frames-in-flight", FramesInFlightNeeds(), ReadFramesInFlight},
    };
    for (const ValueOption& option : kOptions) {
        if (arg == option.name) {
            return &option;
        }
    }
    return nullptr;
}

// What no single option can check: the options together.
Result CheckTogether(const RenderOptions& o) {
    if (o.to && *o.to <= o.from) {
        return Fail("--to must come after --from");
    }
    if (o.kind != RenderOutputKind::PngSequence && (o.width % 2 != 0 || o.height % 2 != 0)) {
        return Fail("video needs even sides (yuv420p): " + std::to_string(o.width) + "x" +
                    std::to_string(o.height));
    }
    if (o.files.empty() && !o.demo) {
        return Fail("nothing to render: give a model (.pmx) or --demo");
    }
    return {};
}

}  // namespace

std::optional<std::string> FrameFileName(const std::string& pattern, std::uint64_t index) {
    const std::size_t percent = pattern.find('%');
    if (percent == std::string::npos) {
        return std::nullopt;
    }
    std::size_t at = percent + 1;
    std::uint32_t width = 0;
    if (at < pattern.size() && pattern[at] == '0') {
        ++at;
        if (at >= pattern.size() || pattern[at] < '1' || pattern[at] > '9') {
            return std::nullopt;
        }
        width = static_cast<std::uint32_t>(pattern[at] - '0');
        ++at;
    }
    if (at >= pattern.size() || pattern[at] != 'd' ||
        pattern.find('%', at + 1) != std::string::npos) {
        return std::nullopt;
    }
    std::string number = std::to_string(index);
    if (number.size() < width) {
        number.insert(0, width - number.size(), '0');
    }
    return pattern.substr(0, percent) + number + pattern.substr(at + 1);
}

Result ParseRenderOptions(int argc, const char* const* argv, RenderOptions* options) {
    *options = {};
    RenderOptions& o = *options;
    bool haveOutput = false;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            o.help = true;
            return {};
        } else if (arg == "--demo") {
            o.demo = true;
        } else if (arg == "--raytracing") {
            o.rayTracing = true;
        } else if (const ValueOption* option = FindValueOption(arg)) {
            if (i + 1 == argc) {
                return Fail(arg + " needs " + option->needs);
            }
            if (Result read = option->read(arg, argv[++i], &o); !read.ok()) {
                return read;
            }
        } else if (arg.starts_with("--")) {
            return Fail("unknown option " + arg + " (see qv render --help)");
        } else if (!haveOutput) {
            if (Result set = SetOutput(arg, &o); !set.ok()) {
                return set;
            }
            haveOutput = true;
        } else {
            o.files.emplace_back(arg);
        }
    }
    if (!haveOutput) {
        return Fail("the output file comes first (see qv render --help)");
    }
    return CheckTogether(o);
}

}  // namespace qv
