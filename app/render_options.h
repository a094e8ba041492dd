// What `qv render` is asked to make: its command line, read and checked.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/result.h"
#include "video/picture_quality.h"

namespace qv {

enum class RenderOutputKind { PngSequence, Mp4, Mkv };

// A fixed camera: distance from the target, yaw and pitch in degrees, and
// the point it looks at.
struct FixedCameraPlacement {
    float distance = 20.0f;
    float yawDegrees = 0.0f;
    float pitchDegrees = 0.0f;
    float targetX = 0.0f, targetY = 10.0f, targetZ = 0.0f;
};

struct RenderOptions {
    bool help = false;
    std::filesystem::path output;
    RenderOutputKind kind = RenderOutputKind::Mp4;
    std::vector<std::filesystem::path> files;
    bool demo = false;
    double from = 0.0;
    // Unset: the longest motion or the song, whichever ends later.
    std::optional<double> to;
    std::uint32_t width = 1920;
    std::uint32_t height = 1080;
    std::uint32_t fps = 30;
    PictureQuality quality = PictureQuality::Default;  // video only; PNG is lossless
    // An AntiAliasingMode; MSAA 4x as in the player.
    std::int32_t antiAliasingMode = 3;
    std::string shader;  // empty: each model keeps the default set
    bool rayTracing = false;
    std::int32_t rayTracingQuality = 0;  // 0 "Low" to 3 "Ultra"
    std::optional<FixedCameraPlacement> camera;
    // Frames drawn ahead of the one being read back and saved; 1 draws one
    // frame at a time. The pictures are the same either way.
    std::uint32_t framesInFlight = 3;
};

extern const char* const kRenderUsage;

// The largest side and frame rate accepted before the device is asked: far
// above any video and small enough that a frame's size cannot overflow.
inline constexpr std::uint32_t kMaxRenderSide = 32768;
inline constexpr std::uint32_t kMaxRenderFps = 240;
// As many as the device has back buffers to draw them into.
inline constexpr std::uint32_t kMaxFramesInFlight = 3;

// Reads the arguments after "render". E_INVALIDARG with a one-line reason
// for anything that cannot make a video, before any file is touched.
Result ParseRenderOptions(int argc, const char* const* argv, RenderOptions* options);

// A PNG name pattern holds exactly one "%d" or "%0Nd" (N from 1 to 9) and no
// other "%". The name of frame `index`, or nothing for a pattern that is not one.
std::optional<std::string> FrameFileName(const std::string& pattern, std::uint64_t index);

}  // namespace qv
