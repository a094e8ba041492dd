// Loads one file of a batch; a file that fails, even for memory, fails alone.
#include "scene/import_results.h"

#include <exception>
#include <new>

#include "formats/pmd_model.h"
#include "formats/vpd_pose.h"
#include "platform/hlsl_compiler.h"
#include "platform/song_decoder.h"
#include "scene/import_accessory.h"
#include "scene/import_kind.h"

namespace qv {

namespace {

// Reads `path` into `content` with `read`; false, and `content` emptied of
// what was half read, when the file is bad or too large for memory.
template <typename Content>
bool ReadAlone(Content& content, const auto& read, const std::filesystem::path& path) {
    bool loaded = false;
    try {
        loaded = Succeeded(read(content, path));
    } catch (const std::bad_alloc&) {
        // Too large for memory: this file fails alone and the batch goes on.
    }
    if (!loaded) {
        content = {};
    }
    return loaded;
}

// Textures are decoded like a model's; the same failure rules hold.
void DecodeTextures(const PmxModel& model, ModelTextures& textures) {
    try {
        textures = LoadModelTextures(model);
    } catch (const std::bad_alloc&) {
        textures = {};
        textures.loaded = true;
        textures.result = E_OUTOFMEMORY;
        textures.message = "the textures do not fit in memory";
    }
}

void ImportModel(const std::filesystem::path& path, bool decodeTextures, ImportResults& results) {
    ModelImport& entry = results.models.emplace_back();
    entry.path = path;
    const std::string ext = ExtensionOf(path);
    if (ext == ".pmd" || ext == ".PMD") {
        if (!ReadAlone(entry.model, LoadPmdModel, path)) {
            entry.error = "Failed to load PMD model!";
            return;
        }
    } else if (!ReadAlone(entry.model, LoadPmxModel, path)) {
        entry.error = "Failed to load PMX model!";
        return;
    }
    if (decodeTextures) {
        DecodeTextures(entry.model, entry.textures);
    }
}

void ImportAccessory(const std::filesystem::path& path, bool decodeTextures,
                     ImportResults& results) {
    AccessoryImport& entry = results.accessories.emplace_back();
    entry.path = path;
    try {
        XModel mesh;
        if (const Result loaded = LoadXModel(mesh, path); !loaded.ok()) {
            entry.error = "Failed to load accessory!\n" + loaded.message;
            return;
        }
        entry.model = AccessoryModel(mesh);
        if (entry.model.indices.empty()) {
            entry.model = {};
            entry.error = "Failed to load accessory!\nthe file holds no triangles to draw";
            return;
        }
    } catch (const std::bad_alloc&) {
        entry.model = {};
        entry.error = "Failed to load accessory!\nthe mesh does not fit in memory";
        return;
    }
    if (decodeTextures) {
        DecodeTextures(entry.model, entry.textures);
    }
}

void ImportMotion(const std::filesystem::path& path, ImportResults& results) {
    MotionImport& entry = results.motions.emplace_back();
    entry.path = path;
    const std::string ext = ExtensionOf(path);
    if (ext != ".vpd" && ext != ".VPD") {
        if (!ReadAlone(entry.motion, LoadVmdMotion, path)) {
            entry.error = "Failed to load VMD motion!";
        }
        return;
    }
    VpdWarnings warnings;
    auto readPose = [&](VmdMotion& motion, const std::filesystem::path& file) {
        return LoadVpdPose(motion, file, warnings);
    };
    if (!ReadAlone(entry.motion, readPose, path)) {
        entry.error = "Failed to load VPD pose!\nThe file cannot be read or is not a pose file.";
        return;
    }
    entry.warnings = std::move(warnings.lines);
    entry.warningCount = warnings.count;
}

void ImportSong(const std::filesystem::path& path, AudioEngine* audio, ImportResults& results) {
    SongImport& entry = results.songs.emplace_back();
    entry.path = path;
    const std::string heading = IsCompressedSongExtension(ExtensionOf(path))
                                    ? "Failed to load song!\n"
                                    : "Failed to load WAV song!\n";
    if (audio == nullptr) {
        entry.error = heading + "There is no audio engine.";
        return;
    }
    try {
        entry.effect = std::make_unique<SoundEffect>(*audio, path);
    } catch (const std::exception& e) {
        // The file counts as failed; the import thread carries on.
        entry.error = heading + e.what();
    }
}

void ImportShader(const std::filesystem::path& path, ImportResults& results) {
    ShaderImport& entry = results.shaders.emplace_back();
    entry.path = path;
    const HlslCompileResult vs = CompileHlslFile(path, "VS", HlslStage::Vertex);
    const HlslCompileResult ps = CompileHlslFile(path, "PS", HlslStage::Pixel);
    if (!vs.ok) {
        entry.error += "Vertex shader compile error:\n" + vs.messages;
    }
    if (!ps.ok) {
        entry.error += "Pixel shader compile error:\n" + ps.messages;
    }
    if (vs.ok && ps.ok) {
        entry.program.vertexCode = vs.spirv;
        entry.program.pixelCode = ps.spirv;
    }
}

}  // namespace

void ImportFile(const std::filesystem::path& path, AudioEngine* audio, ImportResults& results,
                bool decodeTextures) {
    switch (ImportKindOf(path)) {
        case ImportKind::Model:
            ImportModel(path, decodeTextures, results);
            break;
        case ImportKind::Motion:
            ImportMotion(path, results);
            break;
        case ImportKind::Song:
            ImportSong(path, audio, results);
            break;
        case ImportKind::Shader:
            ImportShader(path, results);
            break;
        case ImportKind::Accessory:
            ImportAccessory(path, decodeTextures, results);
            break;
        case ImportKind::None:
            break;
    }
}

}  // namespace qv
