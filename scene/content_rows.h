// The rows the tool windows list for models and shader programs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qv {

// Whether a row or list index names an entry of a list of `size`: the
// interface keeps -1 for "none".
inline bool InRange(std::int32_t index, std::size_t size) {
    return index >= 0 && static_cast<std::size_t>(index) < size;
}

// One row per loaded model, shared by the resource manager and the model
// setting window.
struct ModelUiEntry {
    bool selected = false;
    bool physicsOn = true;
    std::string name;         // UTF-8
    std::string englishName;  // UTF-8
    std::int32_t yRotationBone = -1;
    std::int32_t transformBone = -1;
    float yRotationAngle = 0.0f;
    std::int32_t materialIndex = -1;
    std::vector<std::string> addedMotions;
    // The bones' names in UTF-8, by index: made once at import, so the
    // windows that list bones convert none while they draw.
    std::vector<std::string> boneNames;
    // What the model lacks but loaded without (a texture file not found, one
    // that cannot be decoded), as the import status lists it; the row shows
    // a warning mark with these lines when there are any.
    std::vector<std::string> warnings;
};

// One row per shader program; built-in programs cannot be deleted.
struct ShaderEntry {
    bool builtIn = false;
    std::string name;  // UTF-8
};

enum class PlayState { Playing = 0, Paused = 1, Stopped = 2 };

// What the play button offers in a state: to pause what plays, else to play.
inline const char* PlayButtonLabel(PlayState state) {
    return state == PlayState::Playing ? "Pause" : "Play";
}

}  // namespace qv
