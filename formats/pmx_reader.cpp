// Parses a model file from memory, leniently: a cut or corrupt file yields what it holds.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "formats/byte_reader.h"
#include "formats/content_file.h"
#include "formats/non_finite.h"
#include "formats/pmx_model.h"
#include "formats/record_limits.h"
#include "formats/text_decode.h"
#include "platform/memory_advice.h"

namespace qv {

namespace {

constexpr std::uint8_t kPmxSignature[4] = {'P', 'M', 'X', ' '};

// Index widths other than 1, 2 and 4 read as nothing; keep that in the sizes
// so the record limits stay honest.
std::uint32_t IndexBytes(std::uint32_t width) {
    return (width == 1 || width == 2 || width == 4) ? width : 0;
}

class PmxParser {
public:
    PmxParser(PmxModel& model, std::span<const std::uint8_t> bytes) : m_(model), r_(bytes) {}

    HRESULT Parse() {
        std::uint8_t signature[4];
        if (!r_.Read(signature, 4) || std::memcmp(signature, kPmxSignature, 4) != 0) {
            return E_FAIL;
        }
        m_.signature = u"PMX ";
        m_.version = r_.ReadF32();
        r_.ReadU8();  // global count: the eight globals below are read whatever it says
        m_.textEncoding = r_.ReadU8();
        m_.additionalUvCount = r_.ReadU8();
        m_.vertexIndexSize = r_.ReadU8();
        m_.textureIndexSize = r_.ReadU8();
        m_.materialIndexSize = r_.ReadU8();
        m_.boneIndexSize = r_.ReadU8();
        m_.morphIndexSize = r_.ReadU8();
        m_.rigidBodyIndexSize = r_.ReadU8();
        // These would make every later field come from the wrong place.
        if (m_.textEncoding > 1 || m_.additionalUvCount > 4) {
            return E_FAIL;
        }
        vw_ = m_.vertexIndexSize;
        tw_ = m_.textureIndexSize;
        mw_ = m_.materialIndexSize;
        bw_ = m_.boneIndexSize;
        morphW_ = m_.morphIndexSize;
        rw_ = m_.rigidBodyIndexSize;

        m_.name = ReadText();
        m_.nameEnglish = ReadText();
        m_.comment = ReadText();
        m_.commentEnglish = ReadText();

        ReadVertices();
        ReadFaces();
        ReadTextures();
        ReadMaterials();
        ReadBones();
        if (!ReadMorphs()) {
            return E_FAIL;
        }
        ReadDisplayFrames();
        ReadRigidBodies();
        ReadJoints();
        return S_OK;
    }

private:
    std::u16string ReadText() {
        const std::uint32_t length = r_.ReadU32();
        if (length == 0) {
            return {};
        }
        std::span<const std::uint8_t> bytes = r_.Take(length);
        if (bytes.empty()) {
            return {};
        }
        return m_.textEncoding == 0 ? DecodeUtf16Le(bytes) : DecodeUtf8(bytes);
    }

    // Every number is read through these, so that none that is not finite
    // reaches the record: it becomes the field's neutral value and is noted
    // with the record it belongs to.
    float F(const char* field, float neutral = 0.0f) {
        float v = r_.ReadF32();
        if (!MakeFinite(v, neutral)) {
            Note(field);
        }
        return v;
    }
    template <typename V>
    V Vec(const char* field, float neutral = 0.0f) {
        V v = r_.Read<V>();
        if (!MakeFiniteEach(v, neutral)) {
            Note(field);
        }
        return v;
    }
    Float2 F2(const char* field) { return Vec<Float2>(field); }
    Float3 F3(const char* field) { return Vec<Float3>(field); }
    Float4 F4(const char* field, float neutral = 0.0f) { return Vec<Float4>(field, neutral); }
    Float4 Rotation(const char* field) {
        Float4 q = r_.Read<Float4>();
        if (!MakeFiniteRotation(q)) {
            Note(field);
        }
        return q;
    }
    // RGB from the file with an opaque fourth component.
    Float4 Color3(const char* field, float neutral = 0.0f) {
        Float3 c = Vec<Float3>(field, neutral);
        return {c.x, c.y, c.z, 1.0f};
    }

    void Note(const char* field) {
        std::string where;
        for (const auto& [label, index] : where_) {
            where += label;
            where += ' ';
            where += std::to_string(index);
            where += ' ';
        }
        where += field;
        m_.nonFinite.Note(where);
    }

    template <typename T, typename ReadOne>
    void ReadSection(const char* label, std::vector<T>& out, std::uint32_t minRecordSize,
                     ReadOne readOne) {
        const std::uint32_t count = r_.ReadU32();
        out.reserve(RecordCapacity(r_, count, minRecordSize));
        PreferHugePages(out.data(), out.capacity() * sizeof(T));
        PrefaultForWriting(out.data(), out.capacity() * sizeof(T));
        where_.emplace_back(label, 0);
        std::uint32_t i = 0;
        for (; i < count && HasRoomFor(r_, minRecordSize); ++i) {
            where_.back().second = i;
            readOne(out.emplace_back());
        }
        where_.pop_back();
        EndSection(r_, i, count);
    }

    void ReadVertices() {
        const std::uint32_t extraUv = m_.additionalUvCount;
        const std::uint32_t minSize = 32 + 16 * extraUv + 1 + 4;
        ReadSection("vertex", m_.vertices, minSize, [&](PmxVertex& v) {
            v.position = F3("position");
            v.normal = F3("normal");
            v.uv = F2("uv");
            for (std::uint32_t k = 0; k < extraUv; ++k) {
                v.additionalUv[k] = F4("additional uv");
            }
            PmxBoneWeight& w = v.weight;
            w.deformType = r_.ReadU8();
            switch (w.deformType) {
                case kPmxDeformBdef1:
                    w.boneIndex[0] = r_.ReadIndex(bw_);
                    w.weight[0] = 1.0f;
                    break;
                case kPmxDeformBdef2:
                case kPmxDeformSdef:
                    w.boneIndex[0] = r_.ReadIndex(bw_);
                    w.boneIndex[1] = r_.ReadIndex(bw_);
                    w.weight[0] = F("weight");
                    w.weight[1] = 1.0f - w.weight[0];
                    if (w.deformType == kPmxDeformSdef) {
                        w.sdefC = F3("SDEF C");
                        w.sdefR0 = F3("SDEF R0");
                        w.sdefR1 = F3("SDEF R1");
                    }
                    break;
                case kPmxDeformBdef4:
                case kPmxDeformQdef:
                    for (int k = 0; k < 4; ++k) {
                        w.boneIndex[k] = r_.ReadIndex(bw_);
                    }
                    for (int k = 0; k < 4; ++k) {
                        w.weight[k] = F("weight");
                    }
                    break;
                default:
                    break;
            }
            v.edgeScale = F("edge scale");
        });
    }

    void ReadFaces() {
        const std::uint32_t count = r_.ReadU32();
        switch (vw_) {
            case 1:
                ReadFaceIndices<std::uint8_t>(r_, count, 0xFF, m_.indices);
                break;
            case 2:
                ReadFaceIndices<std::uint16_t>(r_, count, 0xFFFF, m_.indices);
                break;
            case 4:
                // Four-byte indices are taken unchanged, -1 included.
                ReadFaceIndices<std::uint32_t>(r_, count, 0xFFFFFFFFu, m_.indices);
                break;
            default:
                break;  // a width that reads nothing yields no faces
        }
    }

    void ReadTextures() {
        ReadSection("texture", m_.textures, 4, [&](std::u16string& t) { t = ReadText(); });
    }

    void ReadMaterials() {
        const std::uint32_t t = IndexBytes(tw_);
        const std::uint32_t minSize = 83 + 2 * t + std::min<std::uint32_t>(1, t);
        ReadSection("material", m_.materials, minSize, [&](PmxMaterial& mat) {
            mat.name = ReadText();
            mat.nameEnglish = ReadText();
            mat.diffuse = F4("diffuse");
            mat.specular = Color3("specular");
            mat.specularPower = F("specular power");
            mat.ambient = Color3("ambient");
            mat.drawFlags = r_.ReadU8();
            mat.edgeColor = F4("edge colour");
            mat.edgeSize = F("edge size");
            mat.textureIndex = r_.ReadIndex(tw_);
            mat.sphereTextureIndex = r_.ReadIndex(tw_);
            mat.sphereMode = r_.ReadU8();
            mat.sharedToon = r_.ReadU8();
            // A shared toon number is always one byte, whatever the texture width.
            mat.toonIndex = mat.sharedToon != 0 ? r_.ReadIndex(1) : r_.ReadIndex(tw_);
            mat.memo = ReadText();
            mat.indexCount = r_.ReadU32();
        });
    }

    void ReadBones() {
        const std::uint32_t b = IndexBytes(bw_);
        const std::uint32_t minSize = 26 + b + std::min<std::uint32_t>(b, 12);
        ReadSection("bone", m_.bones, minSize, [&](PmxBone& bone) {
            bone.name = ReadText();
            bone.nameEnglish = ReadText();
            bone.position = F3("position");
            bone.parentIndex = r_.ReadIndex(bw_);
            bone.deformLayer = r_.ReadI32();
            bone.flags = r_.ReadU16();
            if (bone.flags & kPmxBoneTailIsBone) {
                bone.tailIndex = r_.ReadIndex(bw_);
            } else {
                bone.tailOffset = F3("tail offset");
            }
            if (bone.flags & (kPmxBoneAppendRotation | kPmxBoneAppendTranslation)) {
                bone.appendParentIndex = r_.ReadIndex(bw_);
                bone.appendRatio = F("append ratio");
            }
            if (bone.flags & kPmxBoneFixedAxis) {
                bone.fixedAxis = F3("fixed axis");
            }
            if (bone.flags & kPmxBoneLocalAxes) {
                bone.localAxisX = F3("local X axis");
                bone.localAxisZ = F3("local Z axis");
            }
            if (bone.flags & kPmxBoneExternalParent) {
                bone.externalParentKey = r_.ReadI32();
            }
            if (bone.flags & kPmxBoneIk) {
                bone.ikTargetIndex = r_.ReadIndex(bw_);
                bone.ikLoopCount = r_.ReadU32();
                bone.ikLimitAngle = F("IK limit angle");
                ReadSection("IK link", bone.ikLinks, b + 1, [&](PmxIkLink& link) {
                    link.boneIndex = r_.ReadIndex(bw_);
                    link.hasLimit = r_.ReadU8();
                    if (link.hasLimit == 1) {
                        link.lowerLimit = F3("lower limit");
                        link.upperLimit = F3("upper limit");
                    }
                });
            }
        });
    }

    bool ReadMorphs() {
        const std::uint32_t v = IndexBytes(vw_);
        const std::uint32_t minSize = 14;
        const std::uint32_t count = r_.ReadU32();
        m_.morphs.reserve(RecordCapacity(r_, count, minSize));
        std::uint32_t i = 0;
        where_.emplace_back("morph", 0);
        for (; i < count && HasRoomFor(r_, minSize); ++i) {
            where_.back().second = i;
            PmxMorph& morph = m_.morphs.emplace_back();
            morph.name = ReadText();
            morph.nameEnglish = ReadText();
            morph.panel = r_.ReadU8();
            morph.type = r_.ReadU8();
            switch (morph.type) {
                case kPmxMorphGroup:
                case kPmxMorphFlip:
                    ReadSection("offset", morph.groupOffsets, IndexBytes(morphW_) + 4,
                                [&](PmxGroupMorphOffset& o) {
                                    o.morphIndex = r_.ReadIndex(morphW_);
                                    o.weight = F("weight");
                                });
                    break;
                case kPmxMorphVertex:
                    ReadSection("offset", morph.vertexOffsets, v + 12,
                                [&](PmxVertexMorphOffset& o) {
                                    o.vertexIndex = r_.ReadIndex(vw_);
                                    o.offset = F3("offset");
                                });
                    break;
                case kPmxMorphBone:
                    ReadSection("offset", morph.boneOffsets, IndexBytes(bw_) + 28,
                                [&](PmxBoneMorphOffset& o) {
                                    o.boneIndex = r_.ReadIndex(bw_);
                                    o.translation = F3("translation");
                                    o.rotation = Rotation("rotation");
                                });
                    break;
                case kPmxMorphUv:
                case kPmxMorphAdditionalUv1:
                case kPmxMorphAdditionalUv2:
                case kPmxMorphAdditionalUv3:
                case kPmxMorphAdditionalUv4:
                    ReadSection("offset", morph.uvOffsets, v + 16, [&](PmxUvMorphOffset& o) {
                        o.vertexIndex = r_.ReadIndex(vw_);
                        o.offset = F4("offset");
                    });
                    break;
                case kPmxMorphMaterial:
                    ReadSection("offset", morph.materialOffsets, IndexBytes(mw_) + 113,
                                [&](PmxMaterialMorphOffset& o) {
                                    o.materialIndex = r_.ReadIndex(mw_);
                                    o.operation = r_.ReadU8();
                                    // Multiplying by 1 or adding 0 leaves a
                                    // material as it is.
                                    const float n = o.operation == 0 ? 1.0f : 0.0f;
                                    o.diffuse = F4("diffuse", n);
                                    o.specular = Color3("specular", n);
                                    o.specularPower = F("specular power", n);
                                    o.ambient = Color3("ambient", n);
                                    o.edgeColor = F4("edge colour", n);
                                    o.edgeSize = F("edge size", n);
                                    o.textureTint = F4("texture tint", n);
                                    o.sphereTint = F4("sphere tint", n);
                                    o.toonTint = F4("toon tint", n);
                                });
                    break;
                case kPmxMorphImpulse:
                    ReadSection("offset", morph.impulseOffsets, IndexBytes(rw_) + 25,
                                [&](PmxImpulseMorphOffset& o) {
                                    o.rigidBodyIndex = r_.ReadIndex(rw_);
                                    o.local = r_.ReadU8();
                                    o.velocity = F3("velocity");
                                    o.torque = F3("torque");
                                });
                    break;
                default:
                    // Offsets of an unknown type have no known size, so every
                    // later record would be read from the wrong place.
                    return false;
            }
        }
        where_.pop_back();
        EndSection(r_, i, count);
        return true;
    }

    void ReadDisplayFrames() {
        const std::uint32_t elementMin = 1 + std::min(IndexBytes(bw_), IndexBytes(morphW_));
        ReadSection("display frame", m_.displayFrames, 13, [&](PmxDisplayFrame& frame) {
            frame.name = ReadText();
            frame.nameEnglish = ReadText();
            frame.special = r_.ReadU8();
            ReadSection("element", frame.elements, elementMin, [&](PmxDisplayFrameElement& e) {
                e.kind = r_.ReadU8();
                e.index = r_.ReadIndex(e.kind == 0 ? bw_ : morphW_);
            });
        });
    }

    void ReadRigidBodies() {
        ReadSection("rigid body", m_.rigidBodies, 69 + IndexBytes(bw_), [&](PmxRigidBody& body) {
            body.name = ReadText();
            body.nameEnglish = ReadText();
            body.boneIndex = r_.ReadIndex(bw_);
            body.group = r_.ReadU8();
            body.noCollisionMask = r_.ReadU16();
            body.shape = r_.ReadU8();
            body.size = F3("size");
            body.position = F3("position");
            body.rotation = F3("rotation");
            body.mass = F("mass");
            body.linearDamping = F("linear damping");
            body.angularDamping = F("angular damping");
            body.restitution = F("restitution");
            body.friction = F("friction");
            body.physicsMode = r_.ReadU8();
        });
    }

    void ReadJoints() {
        ReadSection("joint", m_.joints, 9, [&](PmxJoint& joint) {
            joint.name = ReadText();
            joint.nameEnglish = ReadText();
            joint.type = r_.ReadU8();
            // PMX 2.1 gives every joint type (0 spring 6-DOF up to 5 hinge) the
            // same parameter layout.
            if (joint.type > 5) {
                return;
            }
            joint.rigidBodyA = r_.ReadIndex(rw_);
            joint.rigidBodyB = r_.ReadIndex(rw_);
            joint.position = F3("position");
            joint.rotation = F3("rotation");
            joint.translationLower = F3("translation lower limit");
            joint.translationUpper = F3("translation upper limit");
            joint.rotationLower = F3("rotation lower limit");
            joint.rotationUpper = F3("rotation upper limit");
            joint.springTranslation = F3("translation spring");
            joint.springRotation = F3("rotation spring");
        });
    }

    PmxModel& m_;
    ByteReader r_;
    // The records being read, outermost first, for naming a replaced number.
    std::vector<std::pair<const char*, std::uint32_t>> where_;
    std::uint32_t vw_ = 0, tw_ = 0, mw_ = 0, bw_ = 0, morphW_ = 0, rw_ = 0;
};

}  // namespace

HRESULT ParsePmxModel(PmxModel& model, std::span<const std::uint8_t> bytes) {
    return PmxParser(model, bytes).Parse();
}

HRESULT LoadPmxModel(PmxModel& model, const std::filesystem::path& path) {
    return LoadContentFile(model, path, ParsePmxModel);
}

}  // namespace qv
