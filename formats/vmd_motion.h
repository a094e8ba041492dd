// A motion as its file holds it: keys for bones, morphs, camera, light, shadow and IK.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/non_finite.h"
#include "formats/vector_types.h"
#include "platform/result_code.h"

namespace qv {

struct VmdBoneKey {
    std::u16string boneName;
    std::uint32_t frame = 0;
    Float3 position;
    Float4 rotation;  // quaternion x, y, z, w
    std::array<std::uint8_t, 64> interpolation{};
    friend bool operator==(const VmdBoneKey&, const VmdBoneKey&) = default;
};

struct VmdMorphKey {
    std::u16string morphName;
    std::uint32_t frame = 0;
    float weight = 0.0f;
    friend bool operator==(const VmdMorphKey&, const VmdMorphKey&) = default;
};

struct VmdCameraKey {
    std::uint32_t frame = 0;
    float distance = 0.0f;
    Float3 position;
    Float3 rotation;  // radians
    std::array<std::uint8_t, 24> interpolation{};
    std::uint32_t viewAngle = 0;  // degrees
    std::uint8_t perspective = 0;
    friend bool operator==(const VmdCameraKey&, const VmdCameraKey&) = default;
};

struct VmdLightKey {
    std::uint32_t frame = 0;
    Float4 color;  // w is always 1
    Float3 direction;
    friend bool operator==(const VmdLightKey&, const VmdLightKey&) = default;
};

struct VmdShadowKey {
    std::uint32_t frame = 0;
    std::uint8_t mode = 0;
    float distance = 0.0f;
    friend bool operator==(const VmdShadowKey&, const VmdShadowKey&) = default;
};

// One IK bone's state at a key of the visibility and IK-switch section.
struct VmdIkSwitch {
    std::u16string name;  // keyed as bone names are (see vmd_names.h), from 20 bytes
    std::uint8_t enabled = 1;
    friend bool operator==(const VmdIkSwitch&, const VmdIkSwitch&) = default;
};

struct VmdIkKey {
    std::uint32_t frame = 0;
    std::uint8_t visible = 1;
    std::vector<VmdIkSwitch> switches;
    friend bool operator==(const VmdIkKey&, const VmdIkKey&) = default;
};

// The format's fixed signatures, the text at the start of its 30-byte field
// (zeros fill the rest), spelled as bytes: the current version's, and the
// first version's, whose files carry a 10-byte model name.
inline constexpr std::string_view kVmdSignature =
    "\x56\x6f\x63\x61\x6c\x6f\x69\x64\x20\x4d\x6f\x74\x69\x6f\x6e\x20\x44\x61\x74\x61"
    "\x20\x30\x30\x30\x32";
inline constexpr std::string_view kVmdFirstSignature =
    "\x56\x6f\x63\x61\x6c\x6f\x69\x64\x20\x4d\x6f\x74\x69\x6f\x6e\x20\x44\x61\x74\x61"
    "\x20\x66\x69\x6c\x65";

struct VmdMotion {
    std::filesystem::path filePath;
    std::filesystem::path fileName;
    std::filesystem::path folder;  // ends with one '/'
    std::u16string signature;
    std::u16string modelName;
    // Ordered by UTF-16 code units; keys of one name stay in file order. A
    // name is the key of its field's bytes (vmd_names.h): names that differ
    // in the file, even in a byte cut from a character, stay apart.
    std::map<std::u16string, std::vector<VmdBoneKey>> boneKeys;
    std::map<std::u16string, std::vector<VmdMorphKey>> morphKeys;
    std::vector<VmdCameraKey> cameraKeys;
    std::vector<VmdLightKey> lightKeys;
    std::vector<VmdShadowKey> shadowKeys;
    std::vector<VmdIkKey> ikKeys;  // file order
    // Numbers of the file that were not finite, each read as its neutral value.
    NonFiniteFields nonFinite;
    friend bool operator==(const VmdMotion&, const VmdMotion&) = default;
};

// Size in bytes of one key of each section as stored in the file.
inline constexpr std::uint32_t kVmdBoneKeySize = 111;
inline constexpr std::uint32_t kVmdMorphKeySize = 23;
inline constexpr std::uint32_t kVmdCameraKeySize = 61;
inline constexpr std::uint32_t kVmdLightKeySize = 28;
inline constexpr std::uint32_t kVmdShadowKeySize = 9;
// An IK key holds frame, visibility and a count, then per IK bone a 20-byte
// name and an on/off byte.
inline constexpr std::uint32_t kVmdIkKeyHeaderSize = 9;
inline constexpr std::uint32_t kVmdIkSwitchSize = 21;

// Reads a VMD motion. S_OK for any readable non-empty file (the content never
// fails the load); E_INVALIDARG for an empty path; E_FAIL for a file that
// cannot be read or is empty.
HRESULT LoadVmdMotion(VmdMotion& motion, const std::filesystem::path& path);

// Parses a whole VMD file held in memory (path fields are left alone).
HRESULT ParseVmdMotion(VmdMotion& motion, std::span<const std::uint8_t> bytes);

}  // namespace qv
