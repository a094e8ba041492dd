// The player's command line: its options, their parsing, and the ray-tracing switch they share.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/result.h"

namespace qv {

struct Scene;

struct PlayerOptions {
    bool help = false;
    bool version = false;
    // Files imported as one batch at start, as if picked in the file browser.
    std::vector<std::filesystem::path> files;
    // Once that batch is in: every motion on every model, the first song, play.
    bool play = false;
    // Adds the built-in demo (a figure, a dance, a beat) to the batch and plays.
    bool demo = false;
    bool headless = false;
    std::uint64_t frames = 0;  // 0: until the window closes (one frame headless)
    std::filesystem::path screenshot;
    // Tool windows open at start, by name (navigator, resources, ...).
    std::string showWindows;
    // No tool windows at all: the scene alone, as in a video.
    bool hideInterface = false;
    // At the end of the dance everything starts again from the beginning.
    bool loop = false;
    // Ray-traced frames from the start, at this quality (0 "Low" to 3
    // "Ultra") for both diffuse light and shadows.
    bool rayTracing = false;
    std::int32_t rayTracingQuality = 0;
};

// Switches ray tracing on as the Graphic setting window would, at `quality`
// for diffuse light and shadows; a multisampled mode becomes "None". The
// structures are built by the next scene update. False, with nothing
// changed, when the device offers no ray tracing.
bool SwitchOnRayTracing(Scene& scene, std::int32_t quality);
// "LOW", "MEDIUM", "HIGH" or "ULTRA" in any case to 0..3; false for
// anything else.
bool ParseRayTracingQuality(std::string level, std::int32_t* quality);

// Whether the player starts playing once its files are in: asked for, the
// demo, or a motion among the files, as when a file manager opens a model
// and its dance together.
bool StartsPlaying(const PlayerOptions& options);

extern const char* const kUsage;

// E_INVALIDARG with a one-line reason for an unknown option or a bad value.
Result ParseOptions(int argc, const char* const* argv, PlayerOptions* options);

}  // namespace qv
