// A model as its file holds it, every section kept, for the runtime and tools to build on.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "formats/non_finite.h"
#include "formats/vector_types.h"
#include "platform/result_code.h"

namespace qv {

enum PmxDeformType : std::uint32_t {
    kPmxDeformBdef1 = 0,
    kPmxDeformBdef2 = 1,
    kPmxDeformBdef4 = 2,
    kPmxDeformSdef = 3,
    kPmxDeformQdef = 4,
};

enum PmxBoneFlags : std::uint32_t {
    kPmxBoneTailIsBone = 0x0001,
    kPmxBoneRotatable = 0x0002,
    kPmxBoneMovable = 0x0004,
    kPmxBoneVisible = 0x0008,
    kPmxBoneOperable = 0x0010,
    kPmxBoneIk = 0x0020,
    kPmxBoneLocalAppend = 0x0080,
    kPmxBoneAppendRotation = 0x0100,
    kPmxBoneAppendTranslation = 0x0200,
    kPmxBoneFixedAxis = 0x0400,
    kPmxBoneLocalAxes = 0x0800,
    kPmxBonePhysicsAfterDeform = 0x1000,
    kPmxBoneExternalParent = 0x2000,
};

enum PmxMorphType : std::uint32_t {
    kPmxMorphGroup = 0,
    kPmxMorphVertex = 1,
    kPmxMorphBone = 2,
    kPmxMorphUv = 3,
    kPmxMorphAdditionalUv1 = 4,
    kPmxMorphAdditionalUv2 = 5,
    kPmxMorphAdditionalUv3 = 6,
    kPmxMorphAdditionalUv4 = 7,
    kPmxMorphMaterial = 8,
    kPmxMorphFlip = 9,
    kPmxMorphImpulse = 10,
};

enum PmxMaterialFlags : std::uint8_t {
    kPmxMaterialDoubleSided = 0x01,
    kPmxMaterialGroundShadow = 0x02,
    kPmxMaterialCastsShadow = 0x04,
    kPmxMaterialReceivesShadow = 0x08,
    kPmxMaterialEdge = 0x10,
    kPmxMaterialVertexColor = 0x20,
    kPmxMaterialPoints = 0x40,
    kPmxMaterialLines = 0x80,
};

struct PmxBoneWeight {
    std::uint32_t deformType = 0;
    std::array<std::int32_t, 4> boneIndex{};
    std::array<float, 4> weight{};
    Float3 sdefC;
    Float3 sdefR0;
    Float3 sdefR1;
    friend bool operator==(const PmxBoneWeight&, const PmxBoneWeight&) = default;
};

struct PmxVertex {
    Float3 position;
    Float3 normal;
    Float2 uv;
    std::array<Float4, 4> additionalUv{};
    PmxBoneWeight weight;
    float edgeScale = 1.0f;  // the neutral scale, as authoring tools write it
    friend bool operator==(const PmxVertex&, const PmxVertex&) = default;
};

struct PmxMaterial {
    std::u16string name;
    std::u16string nameEnglish;
    Float4 diffuse;
    Float4 specular;  // w is always 1
    float specularPower = 0.0f;
    Float4 ambient;  // w is always 1
    std::uint8_t drawFlags = 0;
    Float4 edgeColor;
    float edgeSize = 0.0f;
    std::int32_t textureIndex = 0;
    std::int32_t sphereTextureIndex = 0;
    std::uint32_t sphereMode = 0;
    std::uint8_t sharedToon = 0;
    std::int32_t toonIndex = 0;
    std::u16string memo;
    std::uint32_t indexCount = 0;
    friend bool operator==(const PmxMaterial&, const PmxMaterial&) = default;
};

struct PmxIkLink {
    std::int32_t boneIndex = 0;
    std::uint8_t hasLimit = 0;
    Float3 lowerLimit;
    Float3 upperLimit;
    friend bool operator==(const PmxIkLink&, const PmxIkLink&) = default;
};

struct PmxBone {
    std::u16string name;
    std::u16string nameEnglish;
    Float3 position;
    std::int32_t parentIndex = 0;
    std::int32_t deformLayer = 0;
    std::uint32_t flags = 0;
    Float3 tailOffset;
    std::int32_t tailIndex = 0;
    std::int32_t appendParentIndex = 0;
    float appendRatio = 0.0f;
    Float3 fixedAxis;
    Float3 localAxisX;
    Float3 localAxisZ;
    std::int32_t externalParentKey = 0;
    std::int32_t ikTargetIndex = 0;
    std::uint32_t ikLoopCount = 0;
    float ikLimitAngle = 0.0f;
    std::vector<PmxIkLink> ikLinks;
    friend bool operator==(const PmxBone&, const PmxBone&) = default;
};

struct PmxGroupMorphOffset {
    std::int32_t morphIndex = 0;
    float weight = 0.0f;
    friend bool operator==(const PmxGroupMorphOffset&, const PmxGroupMorphOffset&) = default;
};

struct PmxVertexMorphOffset {
    std::int32_t vertexIndex = 0;
    Float3 offset;
    friend bool operator==(const PmxVertexMorphOffset&, const PmxVertexMorphOffset&) = default;
};

struct PmxBoneMorphOffset {
    std::int32_t boneIndex = 0;
    Float3 translation;
    Float4 rotation;  // quaternion x, y, z, w
    friend bool operator==(const PmxBoneMorphOffset&, const PmxBoneMorphOffset&) = default;
};

struct PmxUvMorphOffset {
    std::int32_t vertexIndex = 0;
    Float4 offset;
    friend bool operator==(const PmxUvMorphOffset&, const PmxUvMorphOffset&) = default;
};

struct PmxMaterialMorphOffset {
    std::int32_t materialIndex = 0;
    std::uint32_t operation = 0;  // 0 multiply, 1 add
    Float4 diffuse;
    Float4 specular;  // w is always 1
    float specularPower = 0.0f;
    Float4 ambient;  // w is always 1
    Float4 edgeColor;
    float edgeSize = 0.0f;
    Float4 textureTint;
    Float4 sphereTint;
    Float4 toonTint;
    friend bool operator==(const PmxMaterialMorphOffset&, const PmxMaterialMorphOffset&) = default;
};

struct PmxImpulseMorphOffset {
    std::int32_t rigidBodyIndex = 0;
    std::uint8_t local = 0;
    Float3 velocity;
    Float3 torque;
    friend bool operator==(const PmxImpulseMorphOffset&, const PmxImpulseMorphOffset&) = default;
};

struct PmxMorph {
    std::u16string name;
    std::u16string nameEnglish;
    std::uint32_t panel = 0;
    std::uint32_t type = 0;
    std::vector<PmxGroupMorphOffset> groupOffsets;
    std::vector<PmxVertexMorphOffset> vertexOffsets;
    std::vector<PmxBoneMorphOffset> boneOffsets;
    std::vector<PmxUvMorphOffset> uvOffsets;
    std::vector<PmxMaterialMorphOffset> materialOffsets;
    std::vector<PmxImpulseMorphOffset> impulseOffsets;
    friend bool operator==(const PmxMorph&, const PmxMorph&) = default;
};

struct PmxDisplayFrameElement {
    std::uint8_t kind = 0;  // 0 bone, anything else morph
    std::int32_t index = 0;
    friend bool operator==(const PmxDisplayFrameElement&, const PmxDisplayFrameElement&) = default;
};

struct PmxDisplayFrame {
    std::u16string name;
    std::u16string nameEnglish;
    std::uint32_t special = 0;
    std::vector<PmxDisplayFrameElement> elements;
    friend bool operator==(const PmxDisplayFrame&, const PmxDisplayFrame&) = default;
};

struct PmxRigidBody {
    std::u16string name;
    std::u16string nameEnglish;
    std::int32_t boneIndex = 0;
    std::uint8_t group = 0;
    std::uint16_t noCollisionMask = 0;
    std::uint32_t shape = 0;        // 0 sphere, 1 box, 2 capsule
    std::uint32_t physicsMode = 0;  // 0 follows bone, 1 dynamic, 2 dynamic + bone position
    Float3 size;
    Float3 position;
    Float3 rotation;  // Euler angles, radians
    float mass = 0.0f;
    float linearDamping = 0.0f;
    float angularDamping = 0.0f;
    float restitution = 0.0f;
    float friction = 0.0f;
    friend bool operator==(const PmxRigidBody&, const PmxRigidBody&) = default;
};

struct PmxJoint {
    std::u16string name;
    std::u16string nameEnglish;
    std::uint32_t type = 0;  // 0 spring 6-DOF
    std::int32_t rigidBodyA = 0;
    std::int32_t rigidBodyB = 0;
    Float3 position;
    Float3 rotation;
    Float3 translationLower;
    Float3 translationUpper;
    Float3 rotationLower;
    Float3 rotationUpper;
    Float3 springTranslation;
    Float3 springRotation;
    friend bool operator==(const PmxJoint&, const PmxJoint&) = default;
};

struct PmxModel {
    std::filesystem::path filePath;
    std::filesystem::path fileName;
    std::filesystem::path folder;  // ends with one '/'
    std::u16string signature;
    float version = 0.0f;
    std::uint32_t textEncoding = 0;  // 0 UTF-16LE, 1 UTF-8
    std::uint8_t additionalUvCount = 0;
    std::uint32_t vertexIndexSize = 0;
    std::uint32_t textureIndexSize = 0;
    std::uint32_t materialIndexSize = 0;
    std::uint32_t boneIndexSize = 0;
    std::uint32_t morphIndexSize = 0;
    std::uint32_t rigidBodyIndexSize = 0;
    std::u16string name;
    std::u16string nameEnglish;
    std::u16string comment;
    std::u16string commentEnglish;
    std::vector<PmxVertex> vertices;
    std::vector<std::uint32_t> indices;
    std::vector<std::u16string> textures;
    std::vector<PmxMaterial> materials;
    std::vector<PmxBone> bones;
    std::vector<PmxMorph> morphs;
    std::vector<PmxDisplayFrame> displayFrames;
    std::vector<PmxRigidBody> rigidBodies;
    std::vector<PmxJoint> joints;
    // Numbers of the file that were not finite, each read as its neutral value.
    NonFiniteFields nonFinite;
    friend bool operator==(const PmxModel&, const PmxModel&) = default;
};

// Reads a PMX 2.0/2.1 file. S_OK for any readable file with the "PMX "
// signature, however truncated; E_INVALIDARG for an empty path; E_FAIL for a
// file that cannot be read, is empty, has the wrong signature, or whose header
// or morphs say it is corrupt (see ParsePmxModel).
HRESULT LoadPmxModel(PmxModel& model, const std::filesystem::path& path);

// Parses a whole PMX file held in memory into model (its path fields are left
// alone). E_FAIL for a wrong signature, a text encoding other than 0 or 1, more
// than four additional UV sets, or a morph type above 10.
HRESULT ParsePmxModel(PmxModel& model, std::span<const std::uint8_t> bytes);

}  // namespace qv
