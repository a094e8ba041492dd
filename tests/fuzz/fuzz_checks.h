// What every reader of outside bytes must hold to on any input, shared by the fuzzers and the
// replay of their regression corpus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "formats/pmd_model.h"
#include "formats/pmx_model.h"
#include "formats/rgba_image.h"
#include "formats/vmd_motion.h"
#include "formats/vpd_pose.h"
#include "formats/x_model.h"
#include "platform/hlsl_compiler.h"
#include "platform/song_decoder.h"
#include "platform/wav_file.h"

namespace qv {

// Each check feeds the bytes to one reader the way the player calls it and returns false when
// the outcome breaks the reader's promise (memory faults are the sanitizers' to catch).

inline bool CheckPmx(std::span<const std::uint8_t> bytes) {
    PmxModel model;
    ParsePmxModel(model, bytes);
    // Records never outnumber the bytes that carried them.
    const std::size_t records =
        model.vertices.size() + model.indices.size() + model.textures.size() +
        model.materials.size() + model.bones.size() + model.morphs.size() +
        model.displayFrames.size() + model.rigidBodies.size() + model.joints.size();
    return records <= bytes.size();
}

inline bool CheckPmd(std::span<const std::uint8_t> bytes) {
    PmxModel model;
    if (ParsePmdModel(model, bytes) != S_OK) {
        return bytes.size() < 3 || std::memcmp(bytes.data(), kPmdSignature, 3) != 0;
    }
    // Records never outnumber the bytes that carried them; the two display
    // frames the format implies are the only records made from nothing.
    std::size_t records = model.vertices.size() + model.indices.size() + model.textures.size() +
                          model.materials.size() + model.bones.size() + model.morphs.size() +
                          model.rigidBodies.size() + model.joints.size();
    for (const PmxMorph& morph : model.morphs)
        records += morph.vertexOffsets.size();
    for (const PmxDisplayFrame& frame : model.displayFrames)
        records += frame.elements.size();
    return records <= bytes.size() && model.displayFrames.size() >= 2;
}

inline bool CheckVmd(std::span<const std::uint8_t> bytes) {
    VmdMotion motion;
    ParseVmdMotion(motion, bytes);
    std::size_t keys =
        motion.cameraKeys.size() + motion.lightKeys.size() + motion.shadowKeys.size();
    for (const auto& [name, list] : motion.boneKeys)
        keys += list.size();
    for (const auto& [name, list] : motion.morphKeys)
        keys += list.size();
    // No key is made from fewer bytes than any key holds.
    return keys * 9 <= bytes.size();
}

inline bool CheckVpd(std::span<const std::uint8_t> bytes) {
    VmdMotion pose;
    VpdWarnings warnings;
    const HRESULT hr = ParseVpdPose(pose, bytes, warnings);
    std::size_t keys = 0;
    for (const auto& [name, list] : pose.boneKeys)
        keys += list.size();
    for (const auto& [name, list] : pose.morphKeys)
        keys += list.size();
    if (hr != S_OK) {
        // A refused file leaves nothing behind.
        return hr == E_FAIL && keys == 0 && warnings.count == 0;
    }
    // A block takes at least "Bone0{a" and a line end; a warning, a line; and
    // only the first few warnings are kept as text, each naming its line.
    if (keys * 8 > bytes.size() || warnings.count > bytes.size() + 1 ||
        warnings.lines.size() > kVpdWarningsKept || warnings.lines.size() > warnings.count) {
        return false;
    }
    for (const std::string& line : warnings.lines) {
        if (line.rfind("line ", 0) != 0 || line.size() > 400) {
            return false;
        }
    }
    return true;
}

inline bool CheckWav(std::span<const std::uint8_t> bytes) {
    WavAudio audio;
    if (const Result decoded = DecodeWav(bytes, audio); !decoded.ok()) {
        return decoded.code == E_FAIL && !decoded.message.empty() && audio.samples.empty();
    }
    if ((audio.channels != 1 && audio.channels != 2) || audio.sampleRate == 0 ||
        audio.samples.size() % audio.channels != 0 || audio.samples.size() > bytes.size()) {
        return false;
    }
    // The mixer relies on samples in range: a NaN or a huge value would be noise or worse.
    for (float s : audio.samples) {
        if (!(s >= -1.0f && s <= 1.0f)) {
            return false;
        }
    }
    return true;
}

// Compressed songs as the player asks for them: the mixer's rate and two channels.
inline bool CheckAudio(std::span<const std::uint8_t> bytes) {
    WavAudio audio;
    if (const Result decoded = DecodeCompressedSong(bytes, audio, 48000, 2); !decoded.ok()) {
        return decoded.code == E_FAIL && !decoded.message.empty() && audio.samples.empty();
    }
    if (audio.channels != 2 || audio.sampleRate != 48000 || audio.samples.empty() ||
        audio.samples.size() % 2 != 0 || audio.samples.size() > kMaxSongSamples) {
        return false;
    }
    for (float s : audio.samples) {
        if (!(s >= -1.0f && s <= 1.0f)) {
            return false;
        }
    }
    return true;
}

inline bool CheckX(std::span<const std::uint8_t> bytes) {
    XModel model;
    if (const Result parsed = ParseXModel(model, bytes); !parsed.ok()) {
        return parsed.code == E_FAIL && !parsed.message.empty() && model.meshes.empty() &&
               model.frames.empty();
    }
    // What the renderer indexes with must stay inside the lists it indexes.
    for (const XMesh& mesh : model.meshes) {
        if (mesh.corners.size() % 3 != 0 || mesh.triangleMaterials.size() != mesh.triangleCount() ||
            mesh.materials.empty() ||
            (!mesh.normals.empty() && mesh.normalCorners.size() != mesh.corners.size()) ||
            (!mesh.texcoords.empty() && mesh.texcoords.size() != mesh.positions.size())) {
            return false;
        }
        for (std::size_t i = 0; i < mesh.corners.size(); ++i) {
            if (mesh.corners[i] >= mesh.positions.size() ||
                (!mesh.normals.empty() && mesh.normalCorners[i] >= mesh.normals.size())) {
                return false;
            }
        }
        for (std::uint32_t m : mesh.triangleMaterials) {
            if (m >= mesh.materials.size()) {
                return false;
            }
        }
        if (mesh.frame >= static_cast<std::int32_t>(model.frames.size())) {
            return false;
        }
    }
    for (std::size_t f = 0; f < model.frames.size(); ++f) {
        if (model.frames[f].parent >= static_cast<std::int32_t>(f)) {
            return false;
        }
    }
    return true;
}

namespace fuzz_detail {

inline bool CheckImageOutcome(const Result& decoded, const RgbaImage& image) {
    if (!decoded.ok()) {
        return decoded.code == E_FAIL && !decoded.message.empty() && image.pixels.empty();
    }
    return image.width > 0 && image.height > 0 && image.width <= kMaxImageSide &&
           image.height <= kMaxImageSide &&
           std::uint64_t{image.width} * image.height <= kMaxImagePixels &&
           image.pixels.size() == std::size_t{image.width} * image.height * 4;
}

}  // namespace fuzz_detail

// Every texture format through the entry point models use.
inline bool CheckImage(std::span<const std::uint8_t> bytes) {
    RgbaImage image;
    return fuzz_detail::CheckImageOutcome(DecodeImage(bytes, image), image);
}

// DDS straight, so that inputs need not keep the signature to reach the header checks.
inline bool CheckDds(std::span<const std::uint8_t> bytes) {
    RgbaImage image;
    const Result decoded = DecodeDds(bytes, image);
    return fuzz_detail::CheckImageOutcome(decoded, image);
}

// An effect shader file as import compiles it: both entry points. A failed compile must say
// why; a successful one must give SPIR-V.
inline bool CheckHlsl(std::span<const std::uint8_t> bytes) {
    const std::string_view source(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    for (const auto& [entry, stage] :
         {std::pair{"VS", HlslStage::Vertex}, std::pair{"PS", HlslStage::Pixel}}) {
        const HlslCompileResult result = CompileHlsl(source, "fuzz.hlsl", entry, stage);
        if (result.ok ? result.spirv.empty() || result.spirv[0] != 0x07230203u
                      : result.messages.empty()) {
            return false;
        }
    }
    return true;
}

}  // namespace qv
