// qv-pose: poses a model with motions at a given time and prints every bone's
// pose and the morph weights in use.
//
//   qv-pose MODEL.pmx|.pmd [MOTION.vmd|.vpd ...] [--time SECONDS | --frame N] [--json] [--physics]
//           [--settle SECONDS]

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "formats/pmd_model.h"
#include "formats/pmx_model.h"
#include "formats/text_decode.h"
#include "formats/vmd_motion.h"
#include "formats/vpd_pose.h"
#include "platform/version.h"
#include "runtime/model_instance.h"
#include "runtime/physics_bodies.h"
#include "runtime/physics_world.h"

namespace qv {

namespace {

constexpr float kStepSeconds = 1.0f / 60.0f;

const char* const kUsage =
    "Usage: qv-pose MODEL.pmx|.pmd [MOTION.vmd|.vpd ...] [--time SECONDS | --frame N] "
    "[--json] [--physics] [--settle SECONDS]\n";

const char* const kHelp =
    "Poses a PMX or PMD model with its VMD motions or VPD poses at one moment and\n"
    "prints every bone's position and rotation and the morph weights in use.\n"
    "  --time SECONDS     the moment, in seconds from the start (default 0)\n"
    "  --frame N          the moment as a motion frame (30 a second)\n"
    "  --json             one JSON object instead of text\n"
    "  --physics          simulate the model's rigid bodies up to that moment\n"
    "  --settle SECONDS   with --physics, let the bodies settle this long first\n"
    "  --help             show this text\n"
    "  --version          show the version\n"
    "Exit status: 0 when posed, 1 when a file cannot be read, 2 on bad usage.\n";

int Usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

// The file's ending, in either case, decides its format.
bool HasEnding(const std::string& file, std::string_view ending) {
    if (file.size() < ending.size()) {
        return false;
    }
    return std::equal(
        ending.begin(), ending.end(), file.end() - static_cast<std::ptrdiff_t>(ending.size()),
        [](char e, char f) { return e == std::tolower(static_cast<unsigned char>(f)); });
}

bool ParseNumber(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(value) && value >= 0.0;
}

using Json = nlohmann::ordered_json;

// The shortest decimal that reads back as the same float, so that 0.1f
// prints as 0.1 rather than as the double nearest to it.
double Shortest(float value) {
    if (!std::isfinite(value)) {
        return static_cast<double>(value);
    }
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text - 1, value);
    *result.ptr = '\0';
    return std::strtod(text, nullptr);
}

Json Numbers(std::initializer_list<float> values) {
    Json array = Json::array();
    for (float v : values) {
        array.push_back(Shortest(v));
    }
    return array;
}

struct PoseOptions {
    std::vector<std::filesystem::path> files;  // the model, then its motions
    double seconds = 0.0;
    bool json = false;
    bool physics = false;
    double settle = 0.0;
};

// False for anything the usage line does not allow.
bool ParseOptions(int argc, char** argv, PoseOptions* o) {
    bool timeGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json") {
            o->json = true;
        } else if (arg == "--physics") {
            o->physics = true;
        } else if (arg == "--settle") {
            if (i + 1 >= argc || !ParseNumber(argv[i + 1], o->settle)) {
                return false;
            }
            ++i;
        } else if (arg == "--time" || arg == "--frame") {
            double value = 0.0;
            if (timeGiven || i + 1 >= argc || !ParseNumber(argv[i + 1], value)) {
                return false;
            }
            o->seconds = arg == "--time" ? value : value / 30.0;
            timeGiven = true;
            ++i;
        } else if (arg.starts_with("--")) {
            return false;
        } else {
            o->files.emplace_back(arg);
        }
    }
    return !o->files.empty();
}

// With physics the bodies are simulated every frame, as in the player.
bool BuildInstance(const PoseOptions& o, PhysicsWorld& world, ModelInstance& instance) {
    PmxModel model;
    const bool older = HasEnding(o.files[0], ".pmd");
    if (const HRESULT hr =
            older ? LoadPmdModel(model, o.files[0]) : LoadPmxModel(model, o.files[0]);
        Failed(hr)) {
        std::fprintf(stderr, "qv-pose: cannot read model %s (%s)\n", o.files[0].c_str(),
                     FormatResult(hr).c_str());
        return false;
    }
    if (const HRESULT hr = CreateModelInstance(instance, model, o.physics ? &world : nullptr);
        Failed(hr)) {
        std::fprintf(stderr, "qv-pose: cannot build model %s (%s)\n", o.files[0].c_str(),
                     FormatResult(hr).c_str());
        return false;
    }
    return true;
}

bool AttachMotions(const PoseOptions& o, ModelInstance& instance) {
    for (std::size_t i = 1; i < o.files.size(); ++i) {
        VmdMotion motion;
        VpdWarnings warnings;  // a pose's bad lines are skipped, as the player skips them
        const HRESULT hr = HasEnding(o.files[i], ".vpd") ? LoadVpdPose(motion, o.files[i], warnings)
                                                         : LoadVmdMotion(motion, o.files[i]);
        if (Failed(hr)) {
            std::fprintf(stderr, "qv-pose: cannot read motion %s (%s)\n", o.files[i].c_str(),
                         FormatResult(hr).c_str());
            return false;
        }
        AttachMotion(instance, motion);
    }
    return true;
}

// Plays from 0 the way a running scene does, one display frame at a time.
void PlayTo(const PoseOptions& o, PhysicsWorld& world, ModelInstance& instance) {
    RewindMotion(instance);
    instance.playing = 1;
    // --settle: physics first runs that long with the model held at time 0,
    // as a video render does before its first frame.
    if (o.physics && o.settle > 0.0) {
        UpdateModel(instance, 0.0f);
        const auto settleSteps = static_cast<long long>(std::floor(o.settle / kStepSeconds + 1e-3));
        for (long long step = 0; step < settleSteps; ++step) {
            StepPhysics(world, kStepSeconds);
            UpdateModel(instance, 0.0f);
        }
    }
    const auto target = static_cast<float>(o.seconds);
    // A time on a frame but for float rounding (the step is a float) counts
    // as that frame: 3 s is 180 frames, each with its physics step.
    const auto whole = static_cast<long long>(std::floor(o.seconds / kStepSeconds + 1e-3));
    // Past the end only IK still moves, and it settles within a few frames;
    // a far-off time need not be played out frame by frame.
    constexpr int kFramesAtEnd = 600;
    int framesAtEnd = 0;
    for (long long step = 0; step < whole && framesAtEnd < kFramesAtEnd; ++step) {
        if (o.physics) {
            StepPhysics(world, kStepSeconds);
        }
        UpdateModel(instance, kStepSeconds);
        framesAtEnd += instance.motion.time >= instance.motion.end ? 1 : 0;
    }
    // Whatever float rounding left between the clock and the asked time.
    const float rest = target - instance.motion.time;
    if (rest > 0.0f && framesAtEnd < kFramesAtEnd) {
        UpdateModel(instance, rest);
    }
}

void PrintJson(const ModelInstance& instance) {
    Json out = Json::object();
    out["time"] = Shortest(instance.motion.time);
    Json bones = Json::array();
    for (const BoneState& bone : instance.bones) {
        const Vector4& j = bone.jointPosition;
        const Vector4& f = bone.framePosition;
        const Quaternion& q = bone.worldRotation;
        Json entry = Json::object();
        entry["name"] = ToUtf8(bone.name);
        entry["joint"] = Numbers({j.x, j.y, j.z});
        entry["frame"] = Numbers({f.x, f.y, f.z});
        entry["rotation"] = Numbers({q.x, q.y, q.z, q.w});
        bones.push_back(std::move(entry));
    }
    out["bones"] = std::move(bones);
    Json morphs = Json::object();
    for (const auto& [name, weight] : instance.morphWeightByName) {
        if (*weight != 0.0f) {
            morphs[ToUtf8(name)] = Shortest(*weight);
        }
    }
    out["morphs"] = std::move(morphs);
    std::cout << out.dump(2) << '\n';
}

void PrintText(const ModelInstance& instance) {
    std::printf("time %.6f\n", instance.motion.time);
    for (const BoneState& bone : instance.bones) {
        const Vector4& j = bone.jointPosition;
        const Vector4& f = bone.framePosition;
        const Quaternion& q = bone.worldRotation;
        std::printf(
            "%s joint (%.6f, %.6f, %.6f) frame (%.6f, %.6f, %.6f) rotation (%.6f, %.6f, "
            "%.6f, %.6f)\n",
            ToUtf8(bone.name).c_str(), j.x, j.y, j.z, f.x, f.y, f.z, q.x, q.y, q.z, q.w);
    }
    for (const auto& [name, weight] : instance.morphWeightByName) {
        if (*weight != 0.0f) {
            std::printf("morph %s %.6f\n", ToUtf8(name).c_str(), *weight);
        }
    }
}

}  // namespace

}  // namespace qv

using namespace qv;

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("%s%s", kUsage, kHelp);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("qv-pose %s\n", kVersion);
            return 0;
        }
    }
    PoseOptions options;
    if (!ParseOptions(argc, argv, &options)) {
        return Usage();
    }
    PhysicsWorld world;
    ModelInstance instance;
    if (!BuildInstance(options, world, instance)) {
        return 1;
    }
    // The bodies go back to the world before either is destroyed.
    struct ReleaseAtExit {
        ModelInstance& instance;
        PhysicsWorld& world;
        ~ReleaseAtExit() { ReleaseBodies(instance, world); }
    } releaseAtExit{instance, world};
    if (!AttachMotions(options, instance)) {
        return 1;
    }
    PlayTo(options, world, instance);
    if (options.json) {
        PrintJson(instance);
    } else {
        PrintText(instance);
    }
    return 0;
}
