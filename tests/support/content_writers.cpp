#include "tests/support/content_writers.h"

#include <cstring>

#include "formats/text_decode.h"

void ByteWriter::U16(std::uint32_t v) {
    U8(v & 0xFF);
    U8((v >> 8) & 0xFF);
}

void ByteWriter::U32(std::uint32_t v) {
    U16(v & 0xFFFF);
    U16(v >> 16);
}

void ByteWriter::F32(float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, 4);
    U32(bits);
}

void ByteWriter::Fixed(const std::string& s, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        U8(i < s.size() ? static_cast<std::uint8_t>(s[i]) : 0);
    }
}

void ByteWriter::Index(std::int32_t v, std::uint32_t width) {
    switch (width) {
        case 1:
            U8(v == -1 ? 0xFF : static_cast<std::uint32_t>(v));
            break;
        case 2:
            U16(v == -1 ? 0xFFFF : static_cast<std::uint32_t>(v));
            break;
        case 4:
            I32(v);
            break;
        default:
            break;
    }
}

namespace {

class PmxEncoder {
public:
    PmxEncoder(const PmxModel& m) : m_(m) {}

    void Text(const std::u16string& t) {
        if (m_.textEncoding == 1) {
            std::string utf8 = ToUtf8(t);
            w.U32(static_cast<std::uint32_t>(utf8.size()));
            w.Raw(utf8);
        } else {
            w.U32(static_cast<std::uint32_t>(t.size() * 2));
            for (char16_t c : t)
                w.U16(c);
        }
    }
    void Color3(const Float4& c) { w.F3({c.x, c.y, c.z}); }

    std::vector<std::uint8_t> Encode(const PmxWriteOptions& options) {
        const std::uint32_t vw = m_.vertexIndexSize, tw = m_.textureIndexSize,
                            mw = m_.materialIndexSize, bw = m_.boneIndexSize,
                            morphW = m_.morphIndexSize, rw = m_.rigidBodyIndexSize;
        w.Raw("PMX ");
        w.F32(m_.version);
        w.U8(options.globalCount);
        w.U8(m_.textEncoding);
        w.U8(m_.additionalUvCount);
        w.U8(vw), w.U8(tw), w.U8(mw), w.U8(bw), w.U8(morphW), w.U8(rw);
        for (std::uint32_t i = 8; i < options.globalCount; ++i)
            w.U8(0);
        Text(m_.name), Text(m_.nameEnglish), Text(m_.comment), Text(m_.commentEnglish);

        w.U32(static_cast<std::uint32_t>(m_.vertices.size()));
        for (const PmxVertex& v : m_.vertices) {
            w.F3(v.position), w.F3(v.normal), w.F32(v.uv.x), w.F32(v.uv.y);
            for (std::uint32_t k = 0; k < m_.additionalUvCount; ++k)
                w.F4(v.additionalUv[k]);
            const PmxBoneWeight& bw4 = v.weight;
            w.U8(bw4.deformType);
            switch (bw4.deformType) {
                case 0:
                    w.Index(bw4.boneIndex[0], bw);
                    break;
                case 1:
                case 3:
                    w.Index(bw4.boneIndex[0], bw), w.Index(bw4.boneIndex[1], bw);
                    w.F32(bw4.weight[0]);
                    if (bw4.deformType == 3)
                        w.F3(bw4.sdefC), w.F3(bw4.sdefR0), w.F3(bw4.sdefR1);
                    break;
                case 2:
                case 4:
                    for (int k = 0; k < 4; ++k)
                        w.Index(bw4.boneIndex[k], bw);
                    for (int k = 0; k < 4; ++k)
                        w.F32(bw4.weight[k]);
                    break;
                default:
                    break;
            }
            w.F32(v.edgeScale);
        }
        w.U32(static_cast<std::uint32_t>(m_.indices.size()));
        for (std::uint32_t i : m_.indices)
            w.Index(static_cast<std::int32_t>(i), vw);
        w.U32(static_cast<std::uint32_t>(m_.textures.size()));
        for (const auto& t : m_.textures)
            Text(t);

        w.U32(static_cast<std::uint32_t>(m_.materials.size()));
        for (const PmxMaterial& mat : m_.materials) {
            Text(mat.name), Text(mat.nameEnglish);
            w.F4(mat.diffuse), Color3(mat.specular), w.F32(mat.specularPower);
            Color3(mat.ambient), w.U8(mat.drawFlags), w.F4(mat.edgeColor), w.F32(mat.edgeSize);
            w.Index(mat.textureIndex, tw), w.Index(mat.sphereTextureIndex, tw);
            w.U8(mat.sphereMode), w.U8(mat.sharedToon);
            w.Index(mat.toonIndex, mat.sharedToon ? 1 : tw);
            Text(mat.memo);
            w.U32(mat.indexCount);
        }

        w.U32(static_cast<std::uint32_t>(m_.bones.size()));
        for (const PmxBone& b : m_.bones) {
            Text(b.name), Text(b.nameEnglish), w.F3(b.position);
            w.Index(b.parentIndex, bw), w.I32(b.deformLayer), w.U16(b.flags);
            if (b.flags & 0x0001) {
                w.Index(b.tailIndex, bw);
            } else {
                w.F3(b.tailOffset);
            }
            if (b.flags & 0x0300)
                w.Index(b.appendParentIndex, bw), w.F32(b.appendRatio);
            if (b.flags & 0x0400)
                w.F3(b.fixedAxis);
            if (b.flags & 0x0800)
                w.F3(b.localAxisX), w.F3(b.localAxisZ);
            if (b.flags & 0x2000)
                w.I32(b.externalParentKey);
            if (b.flags & 0x0020) {
                w.Index(b.ikTargetIndex, bw), w.U32(b.ikLoopCount), w.F32(b.ikLimitAngle);
                w.U32(static_cast<std::uint32_t>(b.ikLinks.size()));
                for (const PmxIkLink& l : b.ikLinks) {
                    w.Index(l.boneIndex, bw), w.U8(l.hasLimit);
                    if (l.hasLimit == 1)
                        w.F3(l.lowerLimit), w.F3(l.upperLimit);
                }
            }
        }

        w.U32(static_cast<std::uint32_t>(m_.morphs.size()));
        for (const PmxMorph& mo : m_.morphs) {
            Text(mo.name), Text(mo.nameEnglish), w.U8(mo.panel), w.U8(mo.type);
            switch (mo.type) {
                case 0:
                case 9:
                    w.U32(static_cast<std::uint32_t>(mo.groupOffsets.size()));
                    for (const auto& o : mo.groupOffsets)
                        w.Index(o.morphIndex, morphW), w.F32(o.weight);
                    break;
                case 1:
                    w.U32(static_cast<std::uint32_t>(mo.vertexOffsets.size()));
                    for (const auto& o : mo.vertexOffsets)
                        w.Index(o.vertexIndex, vw), w.F3(o.offset);
                    break;
                case 2:
                    w.U32(static_cast<std::uint32_t>(mo.boneOffsets.size()));
                    for (const auto& o : mo.boneOffsets) {
                        w.Index(o.boneIndex, bw), w.F3(o.translation), w.F4(o.rotation);
                    }
                    break;
                case 3:
                case 4:
                case 5:
                case 6:
                case 7:
                    w.U32(static_cast<std::uint32_t>(mo.uvOffsets.size()));
                    for (const auto& o : mo.uvOffsets)
                        w.Index(o.vertexIndex, vw), w.F4(o.offset);
                    break;
                case 8:
                    w.U32(static_cast<std::uint32_t>(mo.materialOffsets.size()));
                    for (const auto& o : mo.materialOffsets) {
                        w.Index(o.materialIndex, mw), w.U8(o.operation), w.F4(o.diffuse);
                        Color3(o.specular), w.F32(o.specularPower), Color3(o.ambient);
                        w.F4(o.edgeColor), w.F32(o.edgeSize);
                        w.F4(o.textureTint), w.F4(o.sphereTint), w.F4(o.toonTint);
                    }
                    break;
                case 10:
                    w.U32(static_cast<std::uint32_t>(mo.impulseOffsets.size()));
                    for (const auto& o : mo.impulseOffsets) {
                        w.Index(o.rigidBodyIndex, rw), w.U8(o.local), w.F3(o.velocity),
                            w.F3(o.torque);
                    }
                    break;
                default:
                    w.U32(0);
                    break;
            }
        }

        w.U32(static_cast<std::uint32_t>(m_.displayFrames.size()));
        for (const PmxDisplayFrame& f : m_.displayFrames) {
            Text(f.name), Text(f.nameEnglish), w.U8(f.special);
            w.U32(static_cast<std::uint32_t>(f.elements.size()));
            for (const auto& e : f.elements)
                w.U8(e.kind), w.Index(e.index, e.kind == 0 ? bw : morphW);
        }

        w.U32(static_cast<std::uint32_t>(m_.rigidBodies.size()));
        for (const PmxRigidBody& b : m_.rigidBodies) {
            Text(b.name), Text(b.nameEnglish), w.Index(b.boneIndex, bw);
            w.U8(b.group), w.U16(b.noCollisionMask), w.U8(b.shape);
            w.F3(b.size), w.F3(b.position), w.F3(b.rotation);
            w.F32(b.mass), w.F32(b.linearDamping), w.F32(b.angularDamping);
            w.F32(b.restitution), w.F32(b.friction), w.U8(b.physicsMode);
        }

        w.U32(static_cast<std::uint32_t>(m_.joints.size()));
        for (const PmxJoint& j : m_.joints) {
            Text(j.name), Text(j.nameEnglish), w.U8(j.type);
            if (j.type <= 5) {
                w.Index(j.rigidBodyA, rw), w.Index(j.rigidBodyB, rw);
                w.F3(j.position), w.F3(j.rotation), w.F3(j.translationLower);
                w.F3(j.translationUpper), w.F3(j.rotationLower), w.F3(j.rotationUpper);
                w.F3(j.springTranslation), w.F3(j.springRotation);
            }
        }
        return std::move(w.bytes);
    }

private:
    const PmxModel& m_;
    ByteWriter w;
};

}  // namespace

std::vector<std::uint8_t> EncodePmx(const PmxModel& model, const PmxWriteOptions& options) {
    return PmxEncoder(model).Encode(options);
}

PmxModel SamplePmxModel() {
    PmxModel m;
    m.signature = u"PMX ";
    m.version = 2.0f;
    m.textEncoding = 0;
    m.additionalUvCount = 2;
    m.vertexIndexSize = 2;
    m.textureIndexSize = 1;
    m.materialIndexSize = 1;
    m.boneIndexSize = 2;
    m.morphIndexSize = 2;
    m.rigidBodyIndexSize = 1;
    m.name = u"テストモデル";
    m.nameEnglish = u"Test model";
    m.comment = u"コメント\r\n2 lines";
    m.commentEnglish = u"";

    for (std::uint32_t d = 0; d < 5; ++d) {
        PmxVertex v;
        v.position = {float(d), 1.5f, -2.0f};
        v.normal = {0, 1, 0};
        v.uv = {0.25f * d, 0.5f};
        v.additionalUv[0] = {1, 2, 3, 4};
        v.additionalUv[1] = {5, 6, 7, 8};
        v.weight.deformType = d;
        switch (d) {
            case 0:
                v.weight.boneIndex[0] = 1;
                v.weight.weight[0] = 1.0f;
                break;
            case 1:
            case 3:
                v.weight.boneIndex = {0, 2, 0, 0};
                v.weight.weight = {0.25f, 0.75f, 0, 0};
                if (d == 3) {
                    v.weight.sdefC = {1, 2, 3};
                    v.weight.sdefR0 = {4, 5, 6};
                    v.weight.sdefR1 = {7, 8, 9};
                }
                break;
            default:
                v.weight.boneIndex = {0, 1, 2, -1};
                v.weight.weight = {0.5f, 0.25f, 0.25f, 0.0f};
                break;
        }
        v.edgeScale = 1.0f;
        m.vertices.push_back(v);
    }
    m.indices = {0, 1, 2, 2, 3, 4};
    m.textures = {u"tex\\body.png", u"toon.bmp", u"sphere.sph"};

    PmxMaterial a;
    a.name = u"体";
    a.nameEnglish = u"body";
    a.diffuse = {1, 0.5f, 0.25f, 1};
    a.specular = {0.1f, 0.2f, 0.3f, 1};
    a.specularPower = 5;
    a.ambient = {0.4f, 0.5f, 0.6f, 1};
    a.drawFlags = 0x1F;
    a.edgeColor = {0, 0, 0, 1};
    a.edgeSize = 1;
    a.textureIndex = 0;
    a.sphereTextureIndex = 2;
    a.sphereMode = 1;
    a.sharedToon = 0;
    a.toonIndex = 1;
    a.memo = u"memo";
    a.indexCount = 3;
    PmxMaterial b = a;
    b.name = u"髪";
    b.textureIndex = -1;
    b.sphereTextureIndex = -1;
    b.sphereMode = 0;
    b.sharedToon = 1;
    b.toonIndex = 3;
    b.indexCount = 3;
    m.materials = {a, b};

    PmxBone root;
    root.name = u"センター";
    root.nameEnglish = u"center";
    root.position = {0, 8, 0};
    root.parentIndex = -1;
    root.flags = 0x001E;
    root.tailOffset = {0, 1, 0};
    PmxBone child;
    child.name = u"左足";
    child.position = {1, 7, 0};
    child.parentIndex = 0;
    child.deformLayer = 1;
    child.flags = 0x0001 | 0x0002 | 0x0100 | 0x0400 | 0x0800 | 0x2000;
    child.tailIndex = 2;
    child.appendParentIndex = 0;
    child.appendRatio = 0.5f;
    child.fixedAxis = {0, 0, 1};
    child.localAxisX = {1, 0, 0};
    child.localAxisZ = {0, 0, 1};
    child.externalParentKey = 7;
    PmxBone ik;
    ik.name = u"左足ＩＫ";
    ik.position = {1, 0, 0};
    ik.parentIndex = 0;
    ik.flags = 0x0001 | 0x0020 | 0x0004;
    ik.tailIndex = -1;
    ik.ikTargetIndex = 1;
    ik.ikLoopCount = 40;
    ik.ikLimitAngle = 2.0f;
    PmxIkLink limited;
    limited.boneIndex = 1;
    limited.hasLimit = 1;
    limited.lowerLimit = {-3.14f, 0, 0};
    limited.upperLimit = {-0.01f, 0, 0};
    PmxIkLink free;
    free.boneIndex = 0;
    ik.ikLinks = {limited, free};
    m.bones = {root, child, ik};

    auto morph = [](std::u16string name, std::uint32_t type) {
        PmxMorph mo;
        mo.name = std::move(name);
        mo.panel = 1 + type % 4;
        mo.type = type;
        return mo;
    };
    for (std::uint32_t type = 0; type <= 10; ++type) {
        PmxMorph mo = morph(u"morph" + std::u16string(1, u'A' + type), type);
        switch (type) {
            case 0:
            case 9:
                mo.groupOffsets = {{1, 0.5f}, {-1, 1.0f}};
                break;
            case 1:
                mo.vertexOffsets = {{0, {0, 0.1f, 0}}, {4, {1, 2, 3}}};
                break;
            case 2:
                mo.boneOffsets = {{1, {0, 1, 0}, {0, 0, 0.38268343f, 0.92387953f}}};
                break;
            case 8: {
                PmxMaterialMorphOffset o;
                o.materialIndex = -1;
                o.operation = 1;
                o.diffuse = {1, 1, 1, 0};
                o.specular = {0.5f, 0.5f, 0.5f, 1};
                o.specularPower = 2;
                o.ambient = {0.1f, 0.1f, 0.1f, 1};
                o.edgeColor = {1, 0, 0, 1};
                o.edgeSize = 0.5f;
                o.textureTint = {1, 1, 1, 1};
                o.sphereTint = {0, 0, 0, 0};
                o.toonTint = {0.5f, 0.5f, 0.5f, 0.5f};
                mo.materialOffsets = {o};
                break;
            }
            case 10:
                mo.impulseOffsets = {{0, 1, {0, 0, 1}, {1, 0, 0}}};
                break;
            default:
                mo.uvOffsets = {{3, {0.1f, 0.2f, 0, 0}}};
                break;
        }
        m.morphs.push_back(mo);
    }

    PmxDisplayFrame root_frame;
    root_frame.name = u"Root";
    root_frame.special = 1;
    root_frame.elements = {{0, 0}};
    PmxDisplayFrame faces;
    faces.name = u"表情";
    faces.elements = {{1, 3}, {1, 10}, {0, 2}};
    m.displayFrames = {root_frame, faces};

    PmxRigidBody body;
    body.name = u"頭";
    body.boneIndex = 1;
    body.group = 3;
    body.noCollisionMask = 0xFFF7;
    body.shape = 2;
    body.physicsMode = 1;
    body.size = {0.5f, 1, 0};
    body.position = {0, 15, 0};
    body.rotation = {0.1f, 0.2f, 0.3f};
    body.mass = 1;
    body.linearDamping = 0.5f;
    body.angularDamping = 0.5f;
    body.restitution = 0;
    body.friction = 0.5f;
    PmxRigidBody body2 = body;
    body2.name = u"髪1";
    body2.boneIndex = -1;
    body2.shape = 0;
    body2.physicsMode = 2;
    m.rigidBodies = {body, body2};

    PmxJoint joint;
    joint.name = u"首";
    joint.type = 0;
    joint.rigidBodyA = 0;
    joint.rigidBodyB = 1;
    joint.position = {0, 14, 0};
    joint.rotation = {0, 0.5f, 0};
    joint.translationLower = {-1, -1, -1};
    joint.translationUpper = {1, 1, 1};
    joint.rotationLower = {-0.5f, -0.5f, -0.5f};
    joint.rotationUpper = {0.5f, 0.5f, 0.5f};
    joint.springTranslation = {10, 0, 0};
    joint.springRotation = {0, 20, 0};
    m.joints = {joint};
    return m;
}

std::vector<std::uint8_t> EncodeVmd(const VmdFile& f) {
    ByteWriter w;
    w.Fixed(f.signature, 30);
    w.Fixed(f.modelName, f.modelNameBytes);
    w.U32(static_cast<std::uint32_t>(f.bones.size()));
    for (const VmdRawBoneKey& k : f.bones) {
        w.Fixed(k.name, 15);
        w.U32(k.frame);
        w.F3(k.position);
        w.F4(k.rotation);
        for (int i = 0; i < 64; ++i)
            w.U8(k.interpolationFill + i);
    }
    w.U32(static_cast<std::uint32_t>(f.morphs.size()));
    for (const VmdRawMorphKey& k : f.morphs) {
        w.Fixed(k.name, 15);
        w.U32(k.frame);
        w.F32(k.weight);
    }
    if (!f.writeCameraLightShadow) {
        return std::move(w.bytes);
    }
    w.U32(static_cast<std::uint32_t>(f.cameras.size()));
    for (const VmdCameraKey& k : f.cameras) {
        w.U32(k.frame), w.F32(k.distance), w.F3(k.position), w.F3(k.rotation);
        for (std::uint8_t b : k.interpolation)
            w.U8(b);
        w.U32(k.viewAngle), w.U8(k.perspective);
    }
    w.U32(static_cast<std::uint32_t>(f.lights.size()));
    for (const VmdLightKey& k : f.lights) {
        w.U32(k.frame), w.F3({k.color.x, k.color.y, k.color.z}), w.F3(k.direction);
    }
    w.U32(static_cast<std::uint32_t>(f.shadows.size()));
    for (const VmdShadowKey& k : f.shadows) {
        w.U32(k.frame), w.U8(k.mode), w.F32(k.distance);
    }
    return std::move(w.bytes);
}
