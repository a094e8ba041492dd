// Writes models in the older binary format, byte by byte, for tests, fuzz seeds and benchmarks.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "formats/pmx_model.h"

namespace qv {

// A file of the older format as its sections hold it. Texts are raw code page
// 932 bytes, cut or padded to their field; indices are the file's own.
struct PmdFile {
    struct Vertex {
        Float3 position;
        Float3 normal;
        Float2 uv;
        std::array<std::uint16_t, 2> bones{};
        std::uint8_t weight = 100;  // percent of the first bone
        std::uint8_t edgeOff = 0;
    };
    struct Material {
        Float4 diffuse{1, 1, 1, 1};
        float specularPower = 0.0f;
        Float3 specular;
        Float3 ambient;
        std::uint8_t toon = 0xFF;
        std::uint8_t edge = 0;
        std::uint32_t indexCount = 0;
        std::string texture;  // "tex.bmp*sphere.sph", 20 bytes
    };
    struct Bone {
        std::string name;
        std::uint16_t parent = 0xFFFF;
        std::uint16_t tail = 0;
        std::uint8_t type = 0;
        std::uint16_t influence = 0;
        Float3 position;
    };
    struct Ik {
        std::uint16_t bone = 0;
        std::uint16_t target = 0;
        std::uint16_t iterations = 0;
        float limit = 0.0f;  // a quarter of the newer format's unit angle
        std::vector<std::uint16_t> links;
    };
    struct Skin {
        std::string name;
        std::uint8_t panel = 0;  // 0 is the base
        std::vector<std::pair<std::uint32_t, Float3>> entries;
    };
    struct RigidBody {
        std::string name;
        std::uint16_t bone = 0xFFFF;
        std::uint8_t group = 0;
        std::uint16_t mask = 0;
        std::uint8_t shape = 0;
        Float3 size;
        Float3 position;  // relative to the bone
        Float3 rotation;
        float mass = 0, linearDamping = 0, angularDamping = 0, restitution = 0, friction = 0;
        std::uint8_t mode = 0;
    };

    float version = 1.0f;
    std::string name;
    std::string comment;
    std::vector<Vertex> vertices;
    std::vector<std::uint16_t> indices;
    std::vector<Material> materials;
    std::vector<Bone> bones;
    std::vector<Ik> iks;
    std::vector<Skin> skins;
    std::vector<std::uint16_t> skinDisplay;
    std::vector<std::string> frameNames;
    std::vector<std::pair<std::uint16_t, std::uint8_t>> boneDisplay;  // bone, frame from 1
    // The optional sections, each written only with those before it.
    struct English {
        std::string name, comment;
        std::vector<std::string> bones, skins, frames;  // skins without the base
    };
    std::optional<English> english;
    std::optional<std::array<std::string, 10>> toonNames;
    bool physics = false;
    std::vector<RigidBody> bodies;
    std::vector<PmxJoint> joints;  // names and values; type is not written
};

std::vector<std::uint8_t> EncodePmd(const PmdFile& file);

// What the older format can hold of a model: every vertex on at most two
// bones, tails as bones (offsets are lost), bone types from the flags, IK
// with its limits in the older unit, vertex morphs against one base, bodies
// relative to their bones, the ten shared toon names. For files that pose as
// their newer twin does.
PmdFile PmdFileOf(const PmxModel& model);

}  // namespace qv
