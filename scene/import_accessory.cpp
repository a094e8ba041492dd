// Accessory files read on the import thread and turned into one-bone models for the renderer.
#include "scene/import_accessory.h"

#include <cmath>
#include <map>
#include <unordered_map>

namespace qv {

namespace {

Float3 TransformPoint(const XMatrix& m, Float3 p) {
    return {p.x * m[0] + p.y * m[4] + p.z * m[8] + m[12],
            p.x * m[1] + p.y * m[5] + p.z * m[9] + m[13],
            p.x * m[2] + p.y * m[6] + p.z * m[10] + m[14]};
}

Float3 Normalised(Float3 v) {
    const float length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (!(length > 1e-20f)) {
        return {0.0f, 1.0f, 0.0f};
    }
    return {v.x / length, v.y / length, v.z / length};
}

// Turns a normal with the frame's matrix; the move does not apply.
Float3 TransformNormal(const XMatrix& m, Float3 n) {
    return Normalised({n.x * m[0] + n.y * m[4] + n.z * m[8], n.x * m[1] + n.y * m[5] + n.z * m[9],
                       n.x * m[2] + n.y * m[6] + n.z * m[10]});
}

// Face normals summed per position (weighted by area), for meshes that
// carry none.
std::vector<Float3> SmoothNormals(const XMesh& mesh) {
    std::vector<Float3> sums(mesh.positions.size());
    for (std::size_t t = 0; t + 2 < mesh.corners.size(); t += 3) {
        const Float3& a = mesh.positions[mesh.corners[t]];
        const Float3& b = mesh.positions[mesh.corners[t + 1]];
        const Float3& c = mesh.positions[mesh.corners[t + 2]];
        const Float3 u{b.x - a.x, b.y - a.y, b.z - a.z};
        const Float3 v{c.x - a.x, c.y - a.y, c.z - a.z};
        // Clockwise faces are the front in this left-handed space, and
        // (b - a) x (c - a) then points out of them.
        const Float3 n{u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
        for (int k = 0; k < 3; ++k) {
            Float3& s = sums[mesh.corners[t + static_cast<std::size_t>(k)]];
            s = {s.x + n.x, s.y + n.y, s.z + n.z};
        }
    }
    for (Float3& s : sums) {
        s = Normalised(s);
    }
    return sums;
}

// The texture list of the model: each file once. Whether a file is there
// and decodes is the texture loader's to find and report, as for any model.
class TextureSlots {
public:
    explicit TextureSlots(PmxModel& model) : model_(model) {}

    std::int32_t Slot(const std::u16string& name) {
        if (name.empty()) {
            return -1;
        }
        if (const auto found = slots_.find(name); found != slots_.end()) {
            return found->second;
        }
        const auto slot = static_cast<std::int32_t>(model_.textures.size());
        model_.textures.push_back(name);
        slots_.emplace(name, slot);
        return slot;
    }

private:
    PmxModel& model_;
    std::map<std::u16string, std::int32_t> slots_;
};

PmxMaterial AccessoryMaterial(const XMaterial& x, TextureSlots& textures) {
    PmxMaterial m;
    m.name = x.name;
    m.diffuse = x.faceColor;
    m.specular = {x.specular.x, x.specular.y, x.specular.z, 1.0f};
    m.specularPower = x.power;
    m.ambient = {x.emissive.x, x.emissive.y, x.emissive.z, 1.0f};
    m.drawFlags = kPmxMaterialGroundShadow | kPmxMaterialCastsShadow | kPmxMaterialReceivesShadow;
    m.textureIndex = textures.Slot(x.texture);
    m.sphereTextureIndex = textures.Slot(x.sphere);
    m.sphereMode = m.sphereTextureIndex >= 0 ? x.sphereMode : kXSphereNone;
    m.sharedToon = 0;
    m.toonIndex = -1;  // no ramp: accessories are lit plainly
    return m;
}

// Appends the mesh's vertices (one per distinct position and normal pair)
// and its triangles grouped by material.
void AppendMesh(const XModel& x, const XMesh& mesh, PmxModel& model, TextureSlots& textures) {
    const XMatrix frame = FrameToModel(x, mesh.frame);
    const std::vector<Float3> smooth =
        mesh.normals.empty() ? SmoothNormals(mesh) : std::vector<Float3>{};
    std::unordered_map<std::uint64_t, std::uint32_t> vertexOf;
    const auto vertex = [&](std::size_t corner) {
        const std::uint32_t p = mesh.corners[corner];
        const std::uint32_t n = mesh.normals.empty() ? p : mesh.normalCorners[corner];
        const std::uint64_t key = (std::uint64_t{p} << 32) | n;
        if (const auto found = vertexOf.find(key); found != vertexOf.end()) {
            return found->second;
        }
        PmxVertex v;
        v.position = TransformPoint(frame, mesh.positions[p]);
        v.normal = TransformNormal(frame, mesh.normals.empty() ? smooth[p] : mesh.normals[n]);
        v.uv = mesh.texcoords.empty() ? Float2{} : mesh.texcoords[p];
        v.weight.deformType = kPmxDeformBdef1;
        v.weight.weight = {1.0f, 0.0f, 0.0f, 0.0f};
        v.edgeScale = 0.0f;
        const auto index = static_cast<std::uint32_t>(model.vertices.size());
        model.vertices.push_back(v);
        vertexOf.emplace(key, index);
        return index;
    };
    // Triangles grouped by material in one pass: a stage has many of both.
    std::vector<std::vector<std::uint32_t>> byMaterial(mesh.materials.size());
    for (std::size_t t = 0; t < mesh.triangleCount(); ++t) {
        byMaterial[mesh.triangleMaterials[t]].push_back(static_cast<std::uint32_t>(t));
    }
    for (std::size_t m = 0; m < mesh.materials.size(); ++m) {
        if (byMaterial[m].empty()) {
            continue;
        }
        PmxMaterial material = AccessoryMaterial(mesh.materials[m], textures);
        for (const std::uint32_t t : byMaterial[m]) {
            for (std::size_t k = 0; k < 3; ++k) {
                model.indices.push_back(vertex(3 * std::size_t{t} + k));
            }
        }
        material.indexCount = static_cast<std::uint32_t>(3 * byMaterial[m].size());
        model.materials.push_back(std::move(material));
    }
}

}  // namespace

PmxModel AccessoryModel(const XModel& mesh) {
    PmxModel model;
    model.filePath = mesh.filePath;
    model.fileName = mesh.fileName;
    model.folder = mesh.folder;
    model.signature = u"PMX ";
    model.version = 2.0f;
    model.vertexIndexSize = model.textureIndexSize = model.materialIndexSize = 4;
    model.boneIndexSize = model.morphIndexSize = model.rigidBodyIndexSize = 4;
    model.name = mesh.fileName.stem().u16string();
    model.nameEnglish = model.name;
    PmxBone root;
    root.name = u"root";
    root.nameEnglish = u"root";
    root.parentIndex = -1;
    root.tailIndex = -1;
    root.flags = kPmxBoneRotatable | kPmxBoneMovable | kPmxBoneVisible | kPmxBoneOperable;
    model.bones.push_back(root);
    TextureSlots textures(model);
    for (const XMesh& part : mesh.meshes) {
        AppendMesh(mesh, part, model, textures);
    }
    return model;
}

}  // namespace qv
