// What the import thread hands the scene: each file's record or its error message.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "formats/model_textures.h"
#include "formats/pmx_model.h"
#include "formats/vmd_motion.h"
#include "platform/audio_engine.h"

namespace qv {

// One file's outcome. error is empty on success and holds the message the
// import status shows otherwise.
struct ModelImport {
    PmxModel model;
    // Decoded here only when the import was asked to (a renderer will use
    // them); otherwise left unloaded.
    ModelTextures textures;
    std::filesystem::path path;
    std::string error;
};

struct MotionImport {
    VmdMotion motion;
    std::filesystem::path path;
    std::string error;
    // The bad lines of a pose file, loaded without: the first few as text,
    // and how many there were.
    std::vector<std::string> warnings;
    std::size_t warningCount = 0;
};

struct SongImport {
    std::unique_ptr<SoundEffect> effect;
    std::filesystem::path path;
    std::string error;
};

// A compiled effect shader: SPIR-V of the "VS" and "PS" entry points.
struct ShaderProgram {
    std::vector<std::uint32_t> vertexCode;
    std::vector<std::uint32_t> pixelCode;
};

struct ShaderImport {
    ShaderProgram program;
    std::filesystem::path path;
    std::string error;
};

// An accessory as the one-bone model it is drawn as. Its textures' warnings
// name the files missing or unreadable; the accessory still loads.
struct AccessoryImport {
    PmxModel model;
    ModelTextures textures;
    std::filesystem::path path;
    std::string error;
};

// A whole batch, handed from the import thread to the scene in one piece.
struct ImportResults {
    std::vector<ModelImport> models;
    std::vector<MotionImport> motions;
    std::vector<SongImport> songs;
    std::vector<ShaderImport> shaders;
    std::vector<AccessoryImport> accessories;
};

// Reads one file by its kind and appends its outcome to results; files of no
// known kind add nothing. Never throws: every failure becomes the file's error.
// With decodeTextures a model's texture files are found and decoded too; their
// failure is kept with the textures, for the GPU half to report.
void ImportFile(const std::filesystem::path& path, AudioEngine* audio, ImportResults& results,
                bool decodeTextures = false);

}  // namespace qv
