// Accessories and stage parts in the DirectX text mesh form: frames, meshes, materials.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "formats/vector_types.h"
#include "platform/result.h"

namespace qv {

// How a sphere map combines with the colour, chosen by its file's ending.
enum XSphereMode : std::uint32_t {
    kXSphereNone = 0,
    kXSphereMultiply = 1,  // ".sph"
    kXSphereAdd = 2,       // ".spa"
};

// A row-vector matrix as the file writes it: v' = v * m, translation in m[12..14].
using XMatrix = std::array<float, 16>;
inline constexpr XMatrix kXIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

struct XMaterial {
    std::u16string name;
    Float4 faceColor;  // RGBA
    float power = 0.0f;
    Float3 specular;
    Float3 emissive;
    // "tex.png*sphere.sph" names both; a lone ".sph"/".spa" name is a sphere map.
    std::u16string texture;
    std::u16string sphere;
    XSphereMode sphereMode = kXSphereNone;
};

// One mesh with every polygon fanned into triangles. Normals and texture
// coordinates are optional; when present, normalCorners has one normal index
// per corner of `corners`, and texcoords one entry per position.
struct XMesh {
    std::u16string name;
    std::int32_t frame = -1;  // the frame that holds it; -1 at the top level
    std::vector<Float3> positions;
    std::vector<std::uint32_t> corners;  // three position indices per triangle
    std::vector<Float3> normals;
    std::vector<std::uint32_t> normalCorners;
    std::vector<Float2> texcoords;
    std::vector<std::uint32_t> triangleMaterials;  // one per triangle, into materials
    std::vector<XMaterial> materials;

    std::size_t triangleCount() const { return corners.size() / 3; }
};

struct XFrame {
    std::u16string name;
    std::int32_t parent = -1;        // an earlier frame, or -1
    XMatrix transform = kXIdentity;  // relative to the parent
};

struct XModel {
    int versionMajor = 0;
    int versionMinor = 0;
    int floatBits = 0;           // 32 or 64
    std::vector<XFrame> frames;  // parents before children
    std::vector<XMesh> meshes;

    std::filesystem::path filePath;
    std::filesystem::path fileName;
    std::filesystem::path folder;  // ends with one '/'
};

// Limits that keep a hostile file from exhausting the reader.
inline constexpr int kXMaxNesting = 64;

// Parses the text form from memory. Names and texture files are code page
// 932. The binary and compressed forms, other signatures, lists shorter than
// their counts, indices out of range, blocks nested deeper than kXMaxNesting
// and unclosed blocks are refused with E_FAIL and a sentence for the user;
// the model is then left empty.
Result ParseXModel(XModel& model, std::span<const std::uint8_t> bytes);

// Reads the whole file, then parses it; the path fields are filled first.
Result LoadXModel(XModel& model, const std::filesystem::path& path);

// The frame's transform to the model's space: its own times its parents'.
XMatrix FrameToModel(const XModel& model, std::int32_t frame);

}  // namespace qv
