// Reads the meshes of DirectX text files: positions, faces, normals, coordinates, materials.
#include <algorithm>

#include "formats/texture_field.h"
#include "formats/x_parser.h"

namespace qv {

namespace {

// "tex.png*sphere.sph" names a texture and a sphere map, split as the older
// model format splits them.
void SetTextureName(std::u16string name, XMaterial& material) {
    // Paths written with doubled backslashes mean single ones.
    for (std::size_t at = name.find(u"\\\\"); at != std::u16string::npos;
         at = name.find(u"\\\\", at + 1)) {
        name.erase(at, 1);
    }
    TextureField field = SplitTextureField(name);
    material.texture = std::move(field.texture);
    material.sphere = std::move(field.sphere);
    material.sphereMode = static_cast<XSphereMode>(field.sphereMode);
}

}  // namespace

template <typename V>
bool XParser::ReadVectors(std::vector<V>& out, const char* what) {
    static_assert(sizeof(V) % sizeof(float) == 0, "a vector is floats alone");
    std::uint32_t count = 0;
    if (!ReadCount(count, what)) {
        return false;
    }
    out.resize(count);
    for (V& v : out) {
        if (!ReadFloats(&v.x, static_cast<int>(sizeof(V) / sizeof(float)), what)) {
            return false;
        }
    }
    return true;
}

// Reads `count` faces of "n; i0, i1, ...;" and fans each into triangles;
// sizes keeps each face's corner count, for the lists that follow per face.
bool XParser::ParseFaces(std::vector<std::uint32_t>& corners, std::vector<std::uint32_t>& sizes,
                         const char* what) {
    std::uint32_t count = 0;
    if (!ReadCount(count, what)) {
        return false;
    }
    sizes.reserve(count);
    std::vector<std::uint32_t> face;
    for (std::uint32_t f = 0; f < count; ++f) {
        std::uint32_t n = 0;
        if (!ReadCount(n, what)) {
            return false;
        }
        face.resize(n);
        for (std::uint32_t& index : face) {
            if (!ReadIndex(index, what)) {
                return false;
            }
        }
        // A polygon is a fan around its first corner; fewer than three
        // corners make no triangle but still take their place in the lists.
        for (std::uint32_t k = 2; k < n; ++k) {
            corners.insert(corners.end(), {face[0], face[k - 1], face[k]});
        }
        sizes.push_back(n);
    }
    return true;
}

bool XParser::ParseMesh(std::int32_t frame, int depth) {
    XMesh mesh;
    mesh.frame = frame;
    if (!OpenNamedBlock(&mesh.name) || !ReadVectors(mesh.positions, "mesh positions")) {
        return false;
    }
    std::vector<std::uint32_t> faceSizes;
    if (!ParseFaces(mesh.corners, faceSizes, "mesh faces")) {
        return false;
    }
    if (std::any_of(mesh.corners.begin(), mesh.corners.end(),
                    [&](std::uint32_t i) { return i >= mesh.positions.size(); })) {
        return Fail("a face names a position the mesh does not have");
    }
    for (;;) {
        std::string_view type;
        if (const Next next = NextChild(type, "a mesh"); next == Next::Failed) {
            return false;
        } else if (next == Next::Closed) {
            break;
        }
        bool ok = true;
        if (type == "MeshNormals") {
            ok = OpenNamedBlock(nullptr) && ParseNormals(mesh, faceSizes);
        } else if (type == "MeshTextureCoords") {
            ok = OpenNamedBlock(nullptr) && ParseTexcoords(mesh);
        } else if (type == "MeshMaterialList") {
            ok = OpenNamedBlock(nullptr) && ParseMaterialList(mesh, faceSizes, depth + 1);
        } else {
            ok = OpenNamedBlock(nullptr) && SkipBlock();
        }
        if (!ok) {
            return false;
        }
    }
    if (mesh.materials.empty()) {
        // No material list: drawn in plain white, as the format's default.
        XMaterial white;
        white.faceColor = {1.0f, 1.0f, 1.0f, 1.0f};
        mesh.materials.push_back(white);
        mesh.triangleMaterials.assign(mesh.triangleCount(), 0);
    }
    model_.meshes.push_back(std::move(mesh));
    return true;
}

bool XParser::ParseNormals(XMesh& mesh, const std::vector<std::uint32_t>& faceSizes) {
    std::vector<Float3> normals;
    std::vector<std::uint32_t> corners;
    std::vector<std::uint32_t> sizes;
    if (!ReadVectors(normals, "normals") || !ParseFaces(corners, sizes, "normal faces") ||
        !Expect(XTokenKind::Close, "normals")) {
        return false;
    }
    // Normals whose faces do not match the mesh's cannot be placed: the mesh
    // is then lit with normals made from its faces instead.
    const bool fits =
        sizes == faceSizes && std::all_of(corners.begin(), corners.end(),
                                          [&](std::uint32_t i) { return i < normals.size(); });
    if (fits) {
        mesh.normals = std::move(normals);
        mesh.normalCorners = std::move(corners);
    }
    return true;
}

bool XParser::ParseTexcoords(XMesh& mesh) {
    std::vector<Float2> uv;
    if (!ReadVectors(uv, "texture coordinates") ||
        !Expect(XTokenKind::Close, "texture coordinates")) {
        return false;
    }
    // One per position; a shorter list cannot be matched to them and is left out.
    if (uv.size() >= mesh.positions.size()) {
        uv.resize(mesh.positions.size());
        mesh.texcoords = std::move(uv);
    }
    return true;
}

bool XParser::ParseMaterialList(XMesh& mesh, const std::vector<std::uint32_t>& faceSizes,
                                int depth) {
    std::uint32_t materialCount = 0;
    std::uint32_t indexCount = 0;
    if (!ReadCount(materialCount, "materials") || !ReadCount(indexCount, "face materials")) {
        return false;
    }
    std::vector<std::uint32_t> faceMaterials(indexCount);
    for (std::uint32_t& m : faceMaterials) {
        if (!ReadIndex(m, "face materials")) {
            return false;
        }
    }
    for (;;) {
        XToken token = tokens_.Next();
        if (token.kind == XTokenKind::Close) {
            break;
        }
        if (token.kind == XTokenKind::Open) {
            // "{ name }": a material defined earlier at the top level.
            const XToken name = tokens_.Next();
            if (name.kind != XTokenKind::Word || !Expect(XTokenKind::Close, "a material name")) {
                return Fail("a material reference is not a name in braces");
            }
            // Keyed by the decoded name, as the definition was.
            const auto found = namedMaterials_.find(Decode(name.text));
            if (found == namedMaterials_.end()) {
                return Fail("a mesh names a material that is not defined");
            }
            mesh.materials.push_back(found->second);
        } else if (token.kind == XTokenKind::Word && token.text == "Material") {
            XMaterial material;
            if (depth + 1 > kXMaxNesting || !OpenNamedBlock(&material.name) ||
                !ParseMaterial(material, depth + 1)) {
                return Fail("a material cannot be read");
            }
            mesh.materials.push_back(std::move(material));
        } else if (token.kind == XTokenKind::Word) {
            if (!OpenNamedBlock(nullptr) || !SkipBlock()) {
                return false;
            }
        } else {
            return Fail(token.kind == XTokenKind::End ? "a block is not closed"
                                                      : "unexpected text in a material list");
        }
    }
    if (mesh.materials.size() != materialCount) {
        return Fail("a material list holds another number of materials than its count");
    }
    // Faces past the end of the list keep the last material named.
    mesh.triangleMaterials.reserve(mesh.triangleCount());
    for (std::size_t f = 0; f < faceSizes.size(); ++f) {
        const std::uint32_t m =
            faceMaterials.empty() ? 0 : faceMaterials[std::min(f, faceMaterials.size() - 1)];
        if (m >= mesh.materials.size()) {
            return Fail("a face names a material the mesh does not have");
        }
        for (std::uint32_t k = 2; k < faceSizes[f]; ++k) {
            mesh.triangleMaterials.push_back(m);
        }
    }
    return true;
}

bool XParser::ParseMaterial(XMaterial& material, int depth) {
    float values[11];
    if (!ReadFloats(values, 11, "a material")) {
        return false;
    }
    material.faceColor = {values[0], values[1], values[2], values[3]};
    material.power = values[4];
    material.specular = {values[5], values[6], values[7]};
    material.emissive = {values[8], values[9], values[10]};
    for (;;) {
        std::string_view type;
        if (const Next next = NextChild(type, "a material"); next != Next::Child) {
            return next == Next::Closed;
        }
        if (depth + 1 > kXMaxNesting || !OpenNamedBlock(nullptr)) {
            return Fail("a material's inner block cannot be read");
        }
        if (type != "TextureFilename" && type != "TextureFileName") {
            if (!SkipBlock()) {
                return false;
            }
            continue;
        }
        const XToken file = tokens_.Next();
        if (file.kind != XTokenKind::String || !Expect(XTokenKind::Close, "a texture name")) {
            return Fail("a texture name is not a quoted string");
        }
        SetTextureName(Decode(file.text), material);
    }
}

}  // namespace qv
