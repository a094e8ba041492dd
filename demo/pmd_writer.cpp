// Lays out files of the older model format and turns a model into what that format can hold.
#include "demo/pmd_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "demo/file_writers.h"
#include "formats/pmd_model.h"

namespace qv {

namespace {

void WriteBodies(ByteWriter& w, const PmdFile& f) {
    w.U32(static_cast<std::uint32_t>(f.bodies.size()));
    for (const PmdFile::RigidBody& b : f.bodies) {
        w.Fixed(b.name, kPmdNameBytes);
        w.U16(b.bone), w.U8(b.group), w.U16(b.mask), w.U8(b.shape);
        w.F3(b.size), w.F3(b.position), w.F3(b.rotation);
        w.F32(b.mass), w.F32(b.linearDamping), w.F32(b.angularDamping);
        w.F32(b.restitution), w.F32(b.friction), w.U8(b.mode);
    }
    w.U32(static_cast<std::uint32_t>(f.joints.size()));
    for (const PmxJoint& j : f.joints) {
        w.Fixed(EncodeCp932(j.name), kPmdNameBytes);
        w.I32(j.rigidBodyA), w.I32(j.rigidBodyB);
        for (const Float3* v :
             {&j.position, &j.rotation, &j.translationLower, &j.translationUpper, &j.rotationLower,
              &j.rotationUpper, &j.springTranslation, &j.springRotation}) {
            w.F3(*v);
        }
    }
}

void WriteOptional(ByteWriter& w, const PmdFile& f) {
    if (!f.english && !f.toonNames && !f.physics) {
        return;
    }
    w.U8(f.english ? 1 : 0);
    if (f.english) {
        const PmdFile::English& e = *f.english;
        w.Fixed(e.name, kPmdNameBytes), w.Fixed(e.comment, kPmdCommentBytes);
        for (const std::string& n : e.bones)
            w.Fixed(n, kPmdNameBytes);
        for (const std::string& n : e.skins)
            w.Fixed(n, kPmdNameBytes);
        for (const std::string& n : e.frames)
            w.Fixed(n, kPmdFrameNameBytes);
    }
    if (!f.toonNames && !f.physics) {
        return;
    }
    for (std::uint32_t n = 0; n < kPmdToonCount; ++n) {
        char shared[16];
        std::snprintf(shared, sizeof shared, "toon%02u.bmp", n + 1);
        w.Fixed(f.toonNames ? (*f.toonNames)[n] : std::string(shared), kPmdToonNameBytes);
    }
    if (f.physics) {
        WriteBodies(w, f);
    }
}

}  // namespace

std::vector<std::uint8_t> EncodePmd(const PmdFile& f) {
    ByteWriter w;
    for (std::uint8_t byte : kPmdSignature) {
        w.U8(byte);
    }
    w.F32(f.version);
    w.Fixed(f.name, kPmdNameBytes), w.Fixed(f.comment, kPmdCommentBytes);
    w.U32(static_cast<std::uint32_t>(f.vertices.size()));
    for (const PmdFile::Vertex& v : f.vertices) {
        w.F3(v.position), w.F3(v.normal), w.F32(v.uv.x), w.F32(v.uv.y);
        w.U16(v.bones[0]), w.U16(v.bones[1]), w.U8(v.weight), w.U8(v.edgeOff);
    }
    w.U32(static_cast<std::uint32_t>(f.indices.size()));
    for (std::uint16_t i : f.indices)
        w.U16(i);
    w.U32(static_cast<std::uint32_t>(f.materials.size()));
    for (const PmdFile::Material& m : f.materials) {
        w.F32(m.diffuse.x), w.F32(m.diffuse.y), w.F32(m.diffuse.z), w.F32(m.diffuse.w);
        w.F32(m.specularPower), w.F3(m.specular), w.F3(m.ambient);
        w.U8(m.toon), w.U8(m.edge), w.U32(m.indexCount), w.Fixed(m.texture, kPmdNameBytes);
    }
    w.U16(static_cast<std::uint32_t>(f.bones.size()));
    for (const PmdFile::Bone& b : f.bones) {
        w.Fixed(b.name, kPmdNameBytes);
        w.U16(b.parent), w.U16(b.tail), w.U8(b.type), w.U16(b.influence), w.F3(b.position);
    }
    w.U16(static_cast<std::uint32_t>(f.iks.size()));
    for (const PmdFile::Ik& ik : f.iks) {
        w.U16(ik.bone), w.U16(ik.target), w.U8(static_cast<std::uint32_t>(ik.links.size()));
        w.U16(ik.iterations), w.F32(ik.limit);
        for (std::uint16_t link : ik.links)
            w.U16(link);
    }
    w.U16(static_cast<std::uint32_t>(f.skins.size()));
    for (const PmdFile::Skin& s : f.skins) {
        w.Fixed(s.name, kPmdNameBytes), w.U32(static_cast<std::uint32_t>(s.entries.size()));
        w.U8(s.panel);
        for (const auto& [index, offset] : s.entries)
            w.U32(index), w.F3(offset);
    }
    w.U8(static_cast<std::uint32_t>(f.skinDisplay.size()));
    for (std::uint16_t s : f.skinDisplay)
        w.U16(s);
    w.U8(static_cast<std::uint32_t>(f.frameNames.size()));
    for (const std::string& n : f.frameNames)
        w.Fixed(n, kPmdFrameNameBytes);
    w.U32(static_cast<std::uint32_t>(f.boneDisplay.size()));
    for (const auto& [bone, frame] : f.boneDisplay)
        w.U16(bone), w.U8(frame);
    WriteOptional(w, f);
    return w.bytes;
}

namespace {

std::uint16_t Index16(std::int32_t index) {
    return index < 0 ? std::uint16_t{0xFFFF} : static_cast<std::uint16_t>(index);
}

void ConvertBones(const PmxModel& model, PmdFile& f) {
    for (const PmxBone& b : model.bones) {
        PmdFile::Bone& out = f.bones.emplace_back();
        out.name = EncodeCp932(b.name);
        out.parent = Index16(b.parentIndex);
        out.position = b.position;
        const bool tailBone = (b.flags & kPmxBoneTailIsBone) != 0 && b.tailIndex > 0;
        out.tail = tailBone ? static_cast<std::uint16_t>(b.tailIndex) : 0;
        out.type = (b.flags & kPmxBoneIk) != 0        ? kPmdBoneIk
                   : (b.flags & kPmxBoneMovable) != 0 ? kPmdBoneRotateMove
                                                      : kPmdBoneRotate;
        if ((b.flags & kPmxBoneAppendRotation) != 0) {
            out.type = kPmdBoneRotationInfluenced;
            out.influence = Index16(b.appendParentIndex);
        }
        if ((b.flags & kPmxBoneIk) != 0) {
            PmdFile::Ik& ik = f.iks.emplace_back();
            ik.bone = static_cast<std::uint16_t>(f.bones.size() - 1);
            ik.target = Index16(b.ikTargetIndex);
            ik.iterations = static_cast<std::uint16_t>(b.ikLoopCount);
            ik.limit = b.ikLimitAngle / 4.0f;
            for (const PmxIkLink& link : b.ikLinks)
                ik.links.push_back(Index16(link.boneIndex));
        }
    }
}

// One base of every vertex the vertex morphs move, then each morph against it.
void ConvertMorphs(const PmxModel& model, PmdFile& f) {
    std::map<std::int32_t, std::uint32_t> baseEntry;
    PmdFile::Skin base;
    base.name = "base";
    for (const PmxMorph& m : model.morphs) {
        for (const PmxVertexMorphOffset& o : m.vertexOffsets) {
            if (baseEntry.emplace(o.vertexIndex, base.entries.size()).second) {
                const auto v = static_cast<std::size_t>(o.vertexIndex);
                base.entries.emplace_back(o.vertexIndex, model.vertices.at(v).position);
            }
        }
    }
    f.skins.push_back(std::move(base));
    for (const PmxMorph& m : model.morphs) {
        if (m.type != kPmxMorphVertex) {
            continue;
        }
        PmdFile::Skin& skin = f.skins.emplace_back();
        skin.name = EncodeCp932(m.name);
        skin.panel = static_cast<std::uint8_t>(std::clamp<std::uint32_t>(m.panel, 1, 4));
        for (const PmxVertexMorphOffset& o : m.vertexOffsets)
            skin.entries.emplace_back(baseEntry.at(o.vertexIndex), o.offset);
        f.skinDisplay.push_back(static_cast<std::uint16_t>(f.skins.size() - 1));
    }
}

void ConvertMaterials(const PmxModel& model, PmdFile& f) {
    auto texture = [&](std::int32_t i) {
        return i >= 0 && static_cast<std::size_t>(i) < model.textures.size()
                   ? EncodeCp932(model.textures[static_cast<std::size_t>(i)])
                   : std::string();
    };
    for (const PmxMaterial& m : model.materials) {
        PmdFile::Material& out = f.materials.emplace_back();
        out.diffuse = m.diffuse;
        out.specularPower = m.specularPower;
        out.specular = {m.specular.x, m.specular.y, m.specular.z};
        out.ambient = {m.ambient.x, m.ambient.y, m.ambient.z};
        out.toon = m.sharedToon != 0 && m.toonIndex >= 0 && m.toonIndex < 10
                       ? static_cast<std::uint8_t>(m.toonIndex)
                       : std::uint8_t{0xFF};
        out.edge = (m.drawFlags & kPmxMaterialEdge) != 0 ? 1 : 0;
        out.indexCount = m.indexCount;
        out.texture = texture(m.textureIndex);
        const std::string sphere =
            m.sphereMode == 1 || m.sphereMode == 2 ? texture(m.sphereTextureIndex) : std::string();
        if (!sphere.empty()) {
            out.texture += (out.texture.empty() ? "" : "*") + sphere;
        }
    }
}

void ConvertBodies(const PmxModel& model, PmdFile& f) {
    f.physics = true;
    for (const PmxRigidBody& b : model.rigidBodies) {
        PmdFile::RigidBody& out = f.bodies.emplace_back();
        out.name = EncodeCp932(b.name);
        out.bone = Index16(b.boneIndex);
        const auto at = static_cast<std::size_t>(b.boneIndex < 0 ? 0 : b.boneIndex);
        const Float3 origin = at < model.bones.size() ? model.bones[at].position : Float3{};
        out.group = b.group, out.mask = b.noCollisionMask;
        out.shape = static_cast<std::uint8_t>(b.shape);
        out.size = b.size, out.rotation = b.rotation;
        out.position = {b.position.x - origin.x, b.position.y - origin.y, b.position.z - origin.z};
        out.mass = b.mass, out.linearDamping = b.linearDamping;
        out.angularDamping = b.angularDamping, out.restitution = b.restitution;
        out.friction = b.friction, out.mode = static_cast<std::uint8_t>(b.physicsMode);
    }
    f.joints = model.joints;
}

}  // namespace

PmdFile PmdFileOf(const PmxModel& model) {
    PmdFile f;
    f.name = EncodeCp932(model.name);
    f.comment = EncodeCp932(model.comment);
    for (const PmxVertex& v : model.vertices) {
        PmdFile::Vertex& out = f.vertices.emplace_back();
        out.position = v.position, out.normal = v.normal, out.uv = v.uv;
        out.bones = {Index16(v.weight.boneIndex[0]), Index16(v.weight.boneIndex[1])};
        const bool one = v.weight.deformType == kPmxDeformBdef1;
        out.weight = static_cast<std::uint8_t>(
            one ? 100 : std::lround(std::clamp(v.weight.weight[0], 0.0f, 1.0f) * 100.0f));
        out.edgeOff = v.edgeScale == 0.0f ? 1 : 0;
    }
    for (std::uint32_t i : model.indices)
        f.indices.push_back(static_cast<std::uint16_t>(i));
    ConvertMaterials(model, f);
    ConvertBones(model, f);
    ConvertMorphs(model, f);
    PmdFile::English english;
    english.name = EncodeCp932(model.nameEnglish);
    english.comment = EncodeCp932(model.commentEnglish);
    for (const PmxBone& b : model.bones)
        english.bones.push_back(EncodeCp932(b.nameEnglish));
    for (const PmxMorph& m : model.morphs) {
        if (m.type == kPmxMorphVertex) {
            english.skins.push_back(EncodeCp932(m.nameEnglish));
        }
    }
    // The first two frames are the root and the face frame the format implies.
    for (std::size_t d = 2; d < model.displayFrames.size(); ++d) {
        const PmxDisplayFrame& frame = model.displayFrames[d];
        f.frameNames.push_back(EncodeCp932(frame.name));
        english.frames.push_back(EncodeCp932(frame.nameEnglish));
        for (const PmxDisplayFrameElement& e : frame.elements) {
            if (e.kind == 0) {
                f.boneDisplay.emplace_back(Index16(e.index), static_cast<std::uint8_t>(d - 1));
            }
        }
    }
    f.english = std::move(english);
    ConvertBodies(model, f);
    return f;
}

}  // namespace qv
