// Lays out model, motion and song files byte by byte, hostile variants included.
#include "demo/file_writers.h"

#include <iconv.h>

#include <cstring>

#include "formats/text_decode.h"

namespace qv {

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

// Writes a model record by record, in the file's order; each index field is
// as wide as the model's header says.
class PmxEncoder {
public:
    PmxEncoder(const PmxModel& m) : m_(m) {}

    std::vector<std::uint8_t> Encode(const PmxWriteOptions& options) {
        Header(options);
        Vertices();
        w.U32(static_cast<std::uint32_t>(m_.indices.size()));
        for (std::uint32_t i : m_.indices)
            w.Index(static_cast<std::int32_t>(i), m_.vertexIndexSize);
        w.U32(static_cast<std::uint32_t>(m_.textures.size()));
        for (const auto& t : m_.textures)
            Text(t);
        Materials();
        Bones();
        w.U32(static_cast<std::uint32_t>(m_.morphs.size()));
        for (const PmxMorph& mo : m_.morphs)
            Morph(mo);
        DisplayFrames();
        RigidBodies();
        Joints();
        return std::move(w.bytes);
    }

private:
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

    void Header(const PmxWriteOptions& options) {
        w.Raw("PMX ");
        w.F32(m_.version);
        w.U8(options.globalCount);
        w.U8(m_.textEncoding);
        w.U8(m_.additionalUvCount);
        w.U8(m_.vertexIndexSize), w.U8(m_.textureIndexSize), w.U8(m_.materialIndexSize);
        w.U8(m_.boneIndexSize), w.U8(m_.morphIndexSize), w.U8(m_.rigidBodyIndexSize);
        for (std::uint32_t i = 8; i < options.globalCount; ++i)
            w.U8(0);
        Text(m_.name), Text(m_.nameEnglish), Text(m_.comment), Text(m_.commentEnglish);
    }

    void Weight(const PmxBoneWeight& bw4) {
        const std::uint32_t bw = m_.boneIndexSize;
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
    }

    void Vertices() {
        w.U32(static_cast<std::uint32_t>(m_.vertices.size()));
        for (const PmxVertex& v : m_.vertices) {
            w.F3(v.position), w.F3(v.normal), w.F32(v.uv.x), w.F32(v.uv.y);
            for (std::uint32_t k = 0; k < m_.additionalUvCount; ++k)
                w.F4(v.additionalUv[k]);
            Weight(v.weight);
            w.F32(v.edgeScale);
        }
    }

    void Materials() {
        const std::uint32_t tw = m_.textureIndexSize;
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
    }

    void Bones() {
        const std::uint32_t bw = m_.boneIndexSize;
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
    }

    void Morph(const PmxMorph& mo) {
        const std::uint32_t vw = m_.vertexIndexSize;
        Text(mo.name), Text(mo.nameEnglish), w.U8(mo.panel), w.U8(mo.type);
        switch (mo.type) {
            case 0:
            case 9:
                w.U32(static_cast<std::uint32_t>(mo.groupOffsets.size()));
                for (const auto& o : mo.groupOffsets)
                    w.Index(o.morphIndex, m_.morphIndexSize), w.F32(o.weight);
                break;
            case 1:
                w.U32(static_cast<std::uint32_t>(mo.vertexOffsets.size()));
                for (const auto& o : mo.vertexOffsets)
                    w.Index(o.vertexIndex, vw), w.F3(o.offset);
                break;
            case 2:
                w.U32(static_cast<std::uint32_t>(mo.boneOffsets.size()));
                for (const auto& o : mo.boneOffsets) {
                    w.Index(o.boneIndex, m_.boneIndexSize), w.F3(o.translation), w.F4(o.rotation);
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
                for (const auto& o : mo.materialOffsets)
                    MaterialOffset(o);
                break;
            case 10:
                w.U32(static_cast<std::uint32_t>(mo.impulseOffsets.size()));
                for (const auto& o : mo.impulseOffsets) {
                    w.Index(o.rigidBodyIndex, m_.rigidBodyIndexSize), w.U8(o.local),
                        w.F3(o.velocity), w.F3(o.torque);
                }
                break;
            default:
                w.U32(0);
                break;
        }
    }

    void MaterialOffset(const PmxMaterialMorphOffset& o) {
        w.Index(o.materialIndex, m_.materialIndexSize), w.U8(o.operation), w.F4(o.diffuse);
        Color3(o.specular), w.F32(o.specularPower), Color3(o.ambient);
        w.F4(o.edgeColor), w.F32(o.edgeSize);
        w.F4(o.textureTint), w.F4(o.sphereTint), w.F4(o.toonTint);
    }

    void DisplayFrames() {
        w.U32(static_cast<std::uint32_t>(m_.displayFrames.size()));
        for (const PmxDisplayFrame& f : m_.displayFrames) {
            Text(f.name), Text(f.nameEnglish), w.U8(f.special);
            w.U32(static_cast<std::uint32_t>(f.elements.size()));
            for (const auto& e : f.elements)
                w.U8(e.kind), w.Index(e.index, e.kind == 0 ? m_.boneIndexSize : m_.morphIndexSize);
        }
    }

    void RigidBodies() {
        w.U32(static_cast<std::uint32_t>(m_.rigidBodies.size()));
        for (const PmxRigidBody& b : m_.rigidBodies) {
            Text(b.name), Text(b.nameEnglish), w.Index(b.boneIndex, m_.boneIndexSize);
            w.U8(b.group), w.U16(b.noCollisionMask), w.U8(b.shape);
            w.F3(b.size), w.F3(b.position), w.F3(b.rotation);
            w.F32(b.mass), w.F32(b.linearDamping), w.F32(b.angularDamping);
            w.F32(b.restitution), w.F32(b.friction), w.U8(b.physicsMode);
        }
    }

    void Joints() {
        const std::uint32_t rw = m_.rigidBodyIndexSize;
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
    }

    const PmxModel& m_;
    ByteWriter w;
};

}  // namespace

std::vector<std::uint8_t> EncodePmx(const PmxModel& model, const PmxWriteOptions& options) {
    return PmxEncoder(model).Encode(options);
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
            w.U8(k.interpolation ? (*k.interpolation)[i] : k.interpolationFill + i);
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

std::array<std::uint8_t, 64> VmdBoneInterpolation(std::uint8_t x1, std::uint8_t y1, std::uint8_t x2,
                                                  std::uint8_t y2) {
    std::array<std::uint8_t, 16> row{};
    const std::uint8_t points[4] = {x1, y1, x2, y2};
    for (int p = 0; p < 4; ++p) {
        for (int curve = 0; curve < 4; ++curve) {
            row[4 * p + curve] = points[p];
        }
    }
    std::array<std::uint8_t, 64> bytes{};
    for (int r = 0; r < 4; ++r) {
        for (int i = 0; i + r < 16; ++i) {
            bytes[16 * r + i] = row[i + r];
        }
    }
    return bytes;
}

std::vector<std::uint8_t> EncodeWav(const WavHeader& header,
                                    const std::vector<std::uint8_t>& data) {
    ByteWriter body;
    body.Raw("WAVE");
    body.Raw("fmt ");
    const bool extensible = header.format == 0xFFFE;
    body.U32(extensible ? 40 : 16);
    body.U16(header.format);
    body.U16(header.channels);
    body.U32(header.sampleRate);
    const std::uint32_t blockAlign = header.channels * header.bitsPerSample / 8u;
    body.U32(header.sampleRate * blockAlign);
    body.U16(blockAlign);
    body.U16(header.bitsPerSample);
    if (extensible) {
        body.U16(22);                    // extension size
        body.U16(header.bitsPerSample);  // valid bits
        body.U32(3);                     // channel mask
        body.U16(1);                     // sub-format GUID: PCM
        body.Raw(std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14));
    }
    if (header.extraChunkBeforeData) {
        body.Raw("LIST");
        body.U32(3);
        body.Raw("abc");
        body.U8(0);  // pad to even
    }
    body.Raw("data");
    body.U32(static_cast<std::uint32_t>(data.size()));
    body.bytes.insert(body.bytes.end(), data.begin(), data.end());
    ByteWriter file;
    file.Raw("RIFF");
    file.U32(static_cast<std::uint32_t>(body.bytes.size()));
    file.bytes.insert(file.bytes.end(), body.bytes.begin(), body.bytes.end());
    return std::move(file.bytes);
}

std::string EncodeCp932(const std::u16string& text) {
    std::string out;
    iconv_t cd = iconv_open("CP932", "UTF-16LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        for (char16_t c : text) {
            out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
        return out;
    }
    for (char16_t c : text) {
        char in[2] = {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
        char converted[4];
        char* inPtr = in;
        char* outPtr = converted;
        std::size_t inLeft = 2, outLeft = sizeof converted;
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
            out.push_back('?');
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        } else {
            out.append(converted, sizeof converted - outLeft);
        }
    }
    iconv_close(cd);
    return out;
}

}  // namespace qv
