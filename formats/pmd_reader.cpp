// Parses models of the older binary format from memory into the newer format's record.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "formats/byte_reader.h"
#include "formats/content_file.h"
#include "formats/non_finite.h"
#include "formats/pmd_model.h"
#include "formats/record_limits.h"
#include "formats/texture_field.h"
#include "platform/code_page.h"

namespace qv {

namespace {

// Names the format gives what the newer format names.
constexpr std::u16string_view kRootFrame = u"Root";
constexpr std::u16string_view kFaceFrame = u"\u8868\u60C5";  // "表情"

// The file's face morphs before they become vertex morphs: the base holds
// absolute positions of model vertices, the others offsets of base entries.
struct RawSkin {
    std::u16string name;
    std::uint8_t panel = 0;
    std::vector<std::pair<std::uint32_t, Float3>> entries;
};

class PmdParser {
public:
    PmdParser(PmxModel& model, std::span<const std::uint8_t> bytes) : m_(model), r_(bytes) {}

    HRESULT Parse() {
        std::uint8_t signature[3];
        if (!r_.Read(signature, 3) || std::memcmp(signature, kPmdSignature, 3) != 0) {
            return E_FAIL;
        }
        m_.signature = kPmdSignatureText;
        m_.version = F("version");
        m_.textEncoding = 0;
        m_.vertexIndexSize = 2;
        m_.textureIndexSize = 2;
        m_.materialIndexSize = 2;
        m_.boneIndexSize = 2;
        m_.morphIndexSize = 2;
        m_.rigidBodyIndexSize = 4;
        m_.name = Text(kPmdNameBytes);
        m_.comment = Text(kPmdCommentBytes);
        ReadVertices();
        ReadFaces();
        ReadMaterials();
        ReadBones();
        ReadIk();
        ReadSkins();
        ReadDisplay();
        ReadEnglish();
        ReadToonNames();
        ReadRigidBodies();
        ReadJoints();
        FinishPmdBones(m_, types_);
        return S_OK;
    }

private:
    std::u16string Text(std::uint32_t width) { return decoder_.Decode(r_.Take(width)); }

    float F(const char* field) {
        float v = r_.ReadF32();
        if (!MakeFinite(v)) {
            m_.nonFinite.Note(field);
        }
        return v;
    }
    template <typename V>
    V Vec(const char* field) {
        V v = r_.Read<V>();
        if (!MakeFiniteEach(v)) {
            m_.nonFinite.Note(field);
        }
        return v;
    }
    Float3 F3(const char* field) { return Vec<Float3>(field); }

    // A section of count records of at least minSize bytes, capped by the data.
    template <typename ReadOne>
    void Section(std::uint32_t count, std::uint32_t minSize, ReadOne readOne) {
        std::uint32_t i = 0;
        for (; i < count && HasRoomFor(r_, minSize); ++i) {
            readOne(i);
        }
        EndSection(r_, i, count);
    }

    // A section whose records each become one element of `out`.
    template <typename T, typename ReadOne>
    void Section(std::uint32_t count, std::vector<T>& out, std::uint32_t minSize, ReadOne readOne) {
        out.reserve(out.size() + RecordCapacity(r_, count, minSize));
        Section(count, minSize, [&](std::uint32_t i) { readOne(out.emplace_back(), i); });
    }

    void ReadVertices() {
        Section(r_.ReadU32(), m_.vertices, kPmdVertexSize, [&](PmxVertex& v, std::uint32_t) {
            v.position = F3("vertex position");
            v.normal = F3("vertex normal");
            v.uv = Vec<Float2>("vertex uv");
            const std::int32_t a = r_.ReadIndex(2);
            const std::int32_t b = r_.ReadIndex(2);
            const std::uint32_t percent = std::min<std::uint32_t>(r_.ReadU8(), 100);
            PmxBoneWeight& w = v.weight;
            // All of one bone is BDEF1; a share of two is BDEF2.
            if (a == b || percent == 100 || percent == 0) {
                w.deformType = kPmxDeformBdef1;
                w.boneIndex[0] = percent == 0 ? b : a;
                w.weight[0] = 1.0f;
            } else {
                w.deformType = kPmxDeformBdef2;
                w.boneIndex[0] = a;
                w.boneIndex[1] = b;
                w.weight[0] = static_cast<float>(percent) / 100.0f;
                w.weight[1] = 1.0f - w.weight[0];
            }
            v.edgeScale = r_.ReadU8() != 0 ? 0.0f : 1.0f;  // the flag turns the edge off
        });
    }

    void ReadFaces() {
        m_.indices.clear();
        ReadFaceIndices<std::uint16_t>(r_, r_.ReadU32(), 0xFFFF, m_.indices);
    }

    std::int32_t AddTexture(const std::u16string& name) {
        const auto found = std::find(m_.textures.begin(), m_.textures.end(), name);
        if (found != m_.textures.end()) {
            return static_cast<std::int32_t>(found - m_.textures.begin());
        }
        m_.textures.push_back(name);
        return static_cast<std::int32_t>(m_.textures.size() - 1);
    }

    void ReadTextureField(PmxMaterial& mat) {
        const TextureField field = SplitTextureField(Text(kPmdNameBytes));
        if (!field.texture.empty()) {
            mat.textureIndex = AddTexture(field.texture);
        }
        if (!field.sphere.empty()) {
            mat.sphereTextureIndex = AddTexture(field.sphere);
            mat.sphereMode = static_cast<std::uint32_t>(field.sphereMode);
        }
    }

    void ReadMaterials() {
        const std::uint32_t count = r_.ReadU32();
        Section(count, m_.materials, kPmdMaterialSize, [&](PmxMaterial& mat, std::uint32_t i) {
            const std::u16string number = ToU16(std::to_string(i + 1));
            mat.name = u"\u6750\u8CEA" + number;  // "材質": what authoring tools call them
            mat.nameEnglish = u"material" + number;
            const Float3 diffuse = F3("material diffuse");
            mat.diffuse = {diffuse.x, diffuse.y, diffuse.z, F("material alpha")};
            mat.specularPower = F("material specular power");
            const Float3 specular = F3("material specular");
            mat.specular = {specular.x, specular.y, specular.z, 1.0f};
            const Float3 ambient = F3("material ambient");
            mat.ambient = {ambient.x, ambient.y, ambient.z, 1.0f};
            const std::uint8_t toon = r_.ReadU8();
            const bool edge = r_.ReadU8() != 0;
            mat.indexCount = r_.ReadU32();
            mat.textureIndex = -1;
            mat.sphereTextureIndex = -1;
            ReadTextureField(mat);
            // Toon n is the shared ramp toon{n+1}; 0xFF has none.
            mat.sharedToon = 1;
            mat.toonIndex = toon == 0xFF ? -1 : toon;
            // Every material casts and takes shadows, except those whose alpha
            // is exactly 0.98, the format's way to keep one out of the
            // self-shadow; a see-through one is seen from both sides.
            mat.drawFlags = kPmxMaterialGroundShadow;
            if (mat.diffuse.w != 0.98f) {
                mat.drawFlags |= kPmxMaterialCastsShadow | kPmxMaterialReceivesShadow;
            }
            if (mat.diffuse.w < 1.0f) {
                mat.drawFlags |= kPmxMaterialDoubleSided;
            }
            if (edge) {
                mat.drawFlags |= kPmxMaterialEdge;
            }
            mat.edgeColor = {0.0f, 0.0f, 0.0f, 1.0f};
            mat.edgeSize = 1.0f;
        });
    }

    static std::u16string ToU16(const std::string& ascii) {
        return std::u16string(ascii.begin(), ascii.end());
    }

    void ReadBones() {
        const std::uint32_t count = r_.ReadU16();
        types_.reserve(RecordCapacity(r_, count, kPmdBoneSize));
        Section(count, m_.bones, kPmdBoneSize, [&](PmxBone& bone, std::uint32_t) {
            bone.name = Text(kPmdNameBytes);
            bone.parentIndex = r_.ReadIndex(2);
            const std::int32_t tail = r_.ReadIndex(2);
            const std::uint8_t type = r_.ReadU8();
            const std::int32_t influence = r_.ReadIndex(2);
            bone.position = F3("bone position");
            types_.push_back(type);
            // Tail 0 is how the format says "none": the first bone is never a tail.
            bone.flags = kPmxBoneTailIsBone | kPmxBoneRotatable;
            bone.tailIndex = tail == 0 ? -1 : tail;
            if (type != kPmdBoneIkTarget && type != kPmdBoneHidden) {
                bone.flags |= kPmxBoneVisible | kPmxBoneOperable;
            }
            if (type == kPmdBoneRotateMove || type == kPmdBoneIk) {
                bone.flags |= kPmxBoneMovable;
            }
            if (type == kPmdBoneIk) {
                bone.flags |= kPmxBoneIk;
            }
            if (type == kPmdBoneRotationInfluenced || type == kPmdBoneRotationLinked) {
                bone.flags |= kPmxBoneAppendRotation;
                bone.appendParentIndex = influence;
                bone.appendRatio = 1.0f;
                if (type == kPmdBoneRotationLinked) {
                    // Such a bone has no tail: the field holds its share in percent.
                    bone.appendRatio = static_cast<float>(tail) / 100.0f;
                    bone.tailIndex = -1;
                }
            }
        });
    }

    void ReadIk() {
        const std::uint32_t count = r_.ReadU16();
        Section(count, 11, [&](std::uint32_t) {
            const std::int32_t ik = r_.ReadIndex(2);
            const std::int32_t target = r_.ReadIndex(2);
            const std::uint32_t links = r_.ReadU8();
            const std::uint32_t loops = r_.ReadU16();
            // The newer format's unit angle is four times the stored value.
            const float limit = F("IK limit angle") * 4.0f;
            std::vector<PmxIkLink> chain;
            for (std::uint32_t k = 0; k < links && HasRoomFor(r_, 2); ++k) {
                chain.push_back({r_.ReadIndex(2), 0, {}, {}});
            }
            if (ik < 0 || static_cast<std::size_t>(ik) >= m_.bones.size()) {
                return;
            }
            PmxBone& bone = m_.bones[static_cast<std::size_t>(ik)];
            bone.flags |= kPmxBoneIk;
            bone.ikTargetIndex = target;
            bone.ikLoopCount = loops;
            bone.ikLimitAngle = limit;
            bone.ikLinks = std::move(chain);
        });
    }

    void ReadSkins() {
        const std::uint32_t count = r_.ReadU16();
        std::vector<RawSkin> skins;  // file order, base included
        Section(count, skins, 25, [&](RawSkin& skin, std::uint32_t) {
            skin.name = Text(kPmdNameBytes);
            const std::uint32_t entries = r_.ReadU32();
            skin.panel = r_.ReadU8();
            skin.entries.reserve(RecordCapacity(r_, entries, 16));
            Section(entries, 16, [&](std::uint32_t) {
                const std::uint32_t index = r_.ReadU32();
                skin.entries.emplace_back(index, F3("face morph offset"));
            });
        });
        BuildMorphs(skins);
    }

    // The base's entries name model vertices; the other skins' entries name
    // base entries and hold offsets from them.
    void BuildMorphs(const std::vector<RawSkin>& skins) {
        const RawSkin* base = nullptr;
        for (const RawSkin& skin : skins) {
            if (skin.panel == 0 && base == nullptr) {
                base = &skin;
                skinMorph_.push_back(-1);
                continue;
            }
            skinMorph_.push_back(static_cast<std::int32_t>(m_.morphs.size()));
            PmxMorph& morph = m_.morphs.emplace_back();
            morph.name = skin.name;
            morph.panel = skin.panel;
            morph.type = kPmxMorphVertex;
            for (const auto& [entry, offset] : skin.entries) {
                if (base != nullptr && entry < base->entries.size()) {
                    const auto vertex = static_cast<std::int32_t>(base->entries[entry].first);
                    morph.vertexOffsets.push_back({vertex, offset});
                }
            }
        }
    }

    // Display frames as the newer format lays them out: "Root" with the first
    // bone, the face morphs' frame, then the file's named bone frames.
    void ReadDisplay() {
        PmxDisplayFrame& root = m_.displayFrames.emplace_back();
        root.name = root.nameEnglish = kRootFrame;
        root.special = 1;
        if (!m_.bones.empty()) {
            root.elements.push_back({0, 0});
        }
        PmxDisplayFrame& faces = m_.displayFrames.emplace_back();
        faces.name = kFaceFrame;
        faces.nameEnglish = u"Exp";
        faces.special = 1;
        Section(r_.ReadU8(), 2, [&](std::uint32_t) {
            const std::int32_t skin = r_.ReadIndex(2);
            if (skin >= 0 && static_cast<std::size_t>(skin) < skinMorph_.size() &&
                skinMorph_[static_cast<std::size_t>(skin)] >= 0) {
                m_.displayFrames[1].elements.push_back(
                    {1, skinMorph_[static_cast<std::size_t>(skin)]});
            }
        });
        Section(r_.ReadU8(), kPmdFrameNameBytes, [&](std::uint32_t) {
            m_.displayFrames.emplace_back().name = FrameName(Text(kPmdFrameNameBytes));
        });
        Section(r_.ReadU32(), 3, [&](std::uint32_t) {
            const std::int32_t bone = r_.ReadIndex(2);
            const std::size_t frame = std::size_t{r_.ReadU8()} + 1;  // 1 is the first named one
            if (frame >= 2 && frame < m_.displayFrames.size()) {
                m_.displayFrames[frame].elements.push_back({0, bone});
            }
        });
    }

    // Frame names end in a line break in most files.
    static std::u16string FrameName(std::u16string name) {
        while (!name.empty() && (name.back() == u'\n' || name.back() == u'\r')) {
            name.pop_back();
        }
        return name;
    }

    // Optional: present when a flag byte of 1 follows the display lists.
    void ReadEnglish() {
        if (!HasRoomFor(r_, 1) || r_.ReadU8() != 1) {
            return;
        }
        m_.nameEnglish = Text(kPmdNameBytes);
        m_.commentEnglish = Text(kPmdCommentBytes);
        for (PmxBone& bone : m_.bones) {
            bone.nameEnglish = Text(kPmdNameBytes);
        }
        for (PmxMorph& morph : m_.morphs) {  // the base has no English name
            morph.nameEnglish = Text(kPmdNameBytes);
        }
        for (std::size_t f = 2; f < m_.displayFrames.size(); ++f) {
            m_.displayFrames[f].nameEnglish = FrameName(Text(kPmdFrameNameBytes));
        }
    }

    // Optional: ten toon file names. A material on toon n uses the shared
    // ramp unless the file names another image for n; then that image, found
    // beside the model like its textures.
    void ReadToonNames() {
        if (!HasRoomFor(r_, kPmdToonCount * kPmdToonNameBytes)) {
            return;
        }
        std::array<std::u16string, kPmdToonCount> ownNames;
        std::array<bool, kPmdToonCount> own{};
        for (std::uint32_t n = 0; n < kPmdToonCount; ++n) {
            ownNames[n] = Text(kPmdToonNameBytes);
            const std::string shared = (n < 9 ? "toon0" : "toon") + std::to_string(n + 1) + ".bmp";
            own[n] = !ownNames[n].empty() && !(ownNames[n].size() == shared.size() &&
                                               EndsWithNoCase(ownNames[n], ToU16(shared)));
        }
        for (PmxMaterial& mat : m_.materials) {
            const auto n = static_cast<std::uint32_t>(mat.toonIndex);
            if (mat.sharedToon != 0 && n < kPmdToonCount && own[n]) {
                mat.sharedToon = 0;
                mat.toonIndex = AddTexture(ownNames[n]);
            }
        }
    }

    // Optional. A body's position is stored relative to its bone (the first
    // bone for a body without one); the newer format keeps it in model space.
    void ReadRigidBodies() {
        if (!HasRoomFor(r_, 4)) {
            return;
        }
        const std::uint32_t count = r_.ReadU32();
        Section(count, m_.rigidBodies, kPmdRigidBodySize, [&](PmxRigidBody& body, std::uint32_t) {
            body.name = Text(kPmdNameBytes);
            body.boneIndex = r_.ReadIndex(2);
            body.group = r_.ReadU8();
            body.noCollisionMask = r_.ReadU16();
            body.shape = r_.ReadU8();
            body.size = F3("rigid body size");
            const Float3 relative = F3("rigid body position");
            body.rotation = F3("rigid body rotation");
            body.mass = F("rigid body mass");
            body.linearDamping = F("rigid body linear damping");
            body.angularDamping = F("rigid body angular damping");
            body.restitution = F("rigid body restitution");
            body.friction = F("rigid body friction");
            body.physicsMode = r_.ReadU8();
            const auto at = static_cast<std::size_t>(body.boneIndex < 0 ? 0 : body.boneIndex);
            const Float3 origin = at < m_.bones.size() ? m_.bones[at].position : Float3{};
            body.position = {origin.x + relative.x, origin.y + relative.y, origin.z + relative.z};
        });
    }

    void ReadJoints() {
        if (!HasRoomFor(r_, 4)) {
            return;
        }
        Section(r_.ReadU32(), m_.joints, kPmdJointSize, [&](PmxJoint& joint, std::uint32_t) {
            joint.name = Text(kPmdNameBytes);
            joint.type = 0;
            joint.rigidBodyA = r_.ReadI32();
            joint.rigidBodyB = r_.ReadI32();
            joint.position = F3("joint position");
            joint.rotation = F3("joint rotation");
            joint.translationLower = F3("joint translation lower limit");
            joint.translationUpper = F3("joint translation upper limit");
            joint.rotationLower = F3("joint rotation lower limit");
            joint.rotationUpper = F3("joint rotation upper limit");
            joint.springTranslation = F3("joint translation spring");
            joint.springRotation = F3("joint rotation spring");
        });
    }

    PmxModel& m_;
    ByteReader r_;
    Cp932Decoder decoder_;
    std::vector<std::uint8_t> types_;      // by bone
    std::vector<std::int32_t> skinMorph_;  // by skin: its morph, -1 for the base
};

}  // namespace

HRESULT ParsePmdModel(PmxModel& model, std::span<const std::uint8_t> bytes) {
    return PmdParser(model, bytes).Parse();
}

HRESULT LoadPmdModel(PmxModel& model, const std::filesystem::path& path) {
    return LoadContentFile(model, path, ParsePmdModel);
}

}  // namespace qv
