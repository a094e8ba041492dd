// Models in the older binary format, read into the same record as the newer one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

#include "formats/pmx_model.h"
#include "platform/result_code.h"

namespace qv {

// The format's fixed signature, then a version (1.0 in every file).
inline constexpr std::uint8_t kPmdSignature[3] = {0x50, 0x6d, 0x64};
// The same signature as the text a model read from such a file keeps.
inline constexpr std::u16string_view kPmdSignatureText = u"Pmd";

// Widths of the format's fixed code page 932 text fields.
inline constexpr std::uint32_t kPmdNameBytes = 20;
inline constexpr std::uint32_t kPmdCommentBytes = 256;
inline constexpr std::uint32_t kPmdFrameNameBytes = 50;
inline constexpr std::uint32_t kPmdToonNameBytes = 100;
inline constexpr std::uint32_t kPmdToonCount = 10;

// Bytes of one record of each fixed-size section.
inline constexpr std::uint32_t kPmdVertexSize = 38;
inline constexpr std::uint32_t kPmdMaterialSize = 70;
inline constexpr std::uint32_t kPmdBoneSize = 39;
inline constexpr std::uint32_t kPmdRigidBodySize = 83;
inline constexpr std::uint32_t kPmdJointSize = 124;

// Bone types as the format numbers them.
enum PmdBoneType : std::uint8_t {
    kPmdBoneRotate = 0,
    kPmdBoneRotateMove = 1,
    kPmdBoneIk = 2,
    kPmdBoneUnknown = 3,
    kPmdBoneIkLink = 4,
    kPmdBoneRotationInfluenced = 5,
    kPmdBoneIkTarget = 6,
    kPmdBoneHidden = 7,
    kPmdBoneTwist = 8,
    kPmdBoneRotationLinked = 9,
};

// Parses a whole file of the older format held in memory into model, in the
// newer format's terms (path fields are left alone): every vertex BDEF1 or
// BDEF2, the texture field's "texture*sphere" split into the texture list,
// toon numbers as shared toons (or model textures where the file names its
// own), IK limits and knee limits as the newer format states them, face
// morphs as vertex morphs against the base, rigid bodies in model space.
// Truncated or inconsistent content yields what could be read; counts are
// capped by the bytes left. E_FAIL only for a wrong signature.
HRESULT ParsePmdModel(PmxModel& model, std::span<const std::uint8_t> bytes);

// What the format leaves implicit, given every bone and its type (by bone):
// a twist bone turns about the axis to its tail, and a knee ("ひざ" in its
// name) in an IK chain bends forward only, as the newer format states it.
void FinishPmdBones(PmxModel& model, std::span<const std::uint8_t> types);

// Reads a file of the older format: E_INVALIDARG for an empty path, E_FAIL
// for a file that cannot be read, is empty or has the wrong signature.
HRESULT LoadPmdModel(PmxModel& model, const std::filesystem::path& path);

}  // namespace qv
