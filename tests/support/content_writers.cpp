// Fills a sample model with every record kind and variant the reader must handle.
#include "tests/support/content_writers.h"

namespace qv {

namespace {

// One vertex per deform kind, 0 to 4.
std::vector<PmxVertex> SampleVertices() {
    std::vector<PmxVertex> vertices;
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
        vertices.push_back(v);
    }
    return vertices;
}

// One material with its own toon and a sphere, one with a shared toon.
std::vector<PmxMaterial> SampleMaterials() {
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

    return {a, b};
}

// A root, a child with every optional field, and an IK bone with a limited link.
std::vector<PmxBone> SampleBones() {
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

    return {root, child, ik};
}

// One morph of each type, 0 to 10.
std::vector<PmxMorph> SampleMorphs() {
    std::vector<PmxMorph> morphs;
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
        morphs.push_back(mo);
    }

    return morphs;
}

std::vector<PmxDisplayFrame> SampleDisplayFrames() {
    PmxDisplayFrame root_frame;
    root_frame.name = u"Root";
    root_frame.special = 1;
    root_frame.elements = {{0, 0}};
    PmxDisplayFrame faces;
    faces.name = u"表情";
    faces.elements = {{1, 3}, {1, 10}, {0, 2}};

    return {root_frame, faces};
}

// A body on a bone and one on none, joined.
void AddSamplePhysics(PmxModel& m) {
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
}

}  // namespace

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

    m.vertices = SampleVertices();
    m.indices = {0, 1, 2, 2, 3, 4};
    m.textures = {u"tex\\body.png", u"toon.bmp", u"sphere.sph"};
    m.materials = SampleMaterials();
    m.bones = SampleBones();
    m.morphs = SampleMorphs();
    m.displayFrames = SampleDisplayFrames();
    AddSamplePhysics(m);
    return m;
}

std::vector<std::uint8_t> SilentWav(std::uint32_t frames) {
    // The header's defaults are 48 kHz stereo 16-bit PCM: four bytes a frame.
    return EncodeWav(WavHeader{}, std::vector<std::uint8_t>(std::size_t{frames} * 4));
}

}  // namespace qv
