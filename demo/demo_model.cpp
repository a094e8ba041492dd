// Builds the demo figure from lathed shapes: skeleton, leg IK, hair on physics, face morphs.
#include <stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "demo/demo_content.h"
#include "demo/lathe_mesh.h"

namespace qv {

namespace {

using namespace lathe;

constexpr float kPi = std::numbers::pi_v<float>;

// Bone indices, in file order: parents come before their children.
enum Bone : std::int32_t {
    kRoot,
    kCenter,
    kLowerBody,
    kUpperBody,
    kNeck,
    kHead,
    kShoulderL,
    kArmL,
    kElbowL,
    kWristL,
    kShoulderR,
    kArmR,
    kElbowR,
    kWristR,
    kLegL,
    kKneeL,
    kAnkleL,
    kToeL,
    kLegR,
    kKneeR,
    kAnkleR,
    kToeR,
    kLegIkL,
    kLegIkR,
    kToeIkL,
    kToeIkR,
    kHair1,
    kHair2,
    kHair3,
    kBoneCount
};

// The figure's joints (left side; the right mirrors x). The character's left
// is +x, as it faces -z.
constexpr Float3 kCenterAt{0, 8.6f, 0};
constexpr Float3 kHipsAt{0, 10.6f, 0};
constexpr Float3 kNeckAt{0, 15.4f, 0};
constexpr Float3 kHeadAt{0, 16.5f, 0};
constexpr Float3 kHeadMiddle{0, 17.6f, 0};
constexpr float kHeadRadius = 1.95f;
constexpr Float3 kShoulderAt{0.5f, 15.1f, 0};
constexpr Float3 kArmAt{2.0f, 14.9f, 0};
constexpr Float3 kArmDirection{0.766f, -0.643f, 0};  // 40 degrees below horizontal
constexpr float kUpperArm = 3.1f, kForearm = 2.9f;
constexpr Float3 kLegAt{1.1f, 10.2f, 0};
constexpr Float3 kKneeAt{1.1f, 5.7f, -0.12f};
constexpr Float3 kAnkleAt{1.1f, 1.3f, 0.1f};
constexpr Float3 kToeAt{1.1f, 0.1f, -1.8f};
constexpr Float3 kHairAt{0, 18.6f, 2.0f};
constexpr Float3 kHairDirection{0, -0.8f, 0.6f};  // back and down; gravity swings it
constexpr float kHairSegment = 1.6f;

Float3 ElbowAt() {
    return kArmAt + kArmDirection * kUpperArm;
}
Float3 WristAt() {
    return ElbowAt() + kArmDirection * kForearm;
}
Float3 HairAt(int i) {
    return kHairAt + kHairDirection * (kHairSegment * static_cast<float>(i));
}

PmxBone MakeBone(std::u16string name, std::u16string english, Float3 position, std::int32_t parent,
                 std::uint32_t flags) {
    PmxBone bone;
    bone.name = std::move(name);
    bone.nameEnglish = std::move(english);
    bone.position = position;
    bone.parentIndex = parent;
    bone.flags = flags | kPmxBoneRotatable | kPmxBoneVisible | kPmxBoneOperable;
    return bone;
}
PmxBone Tail(PmxBone bone, std::int32_t tailBone) {
    bone.flags |= kPmxBoneTailIsBone;
    bone.tailIndex = tailBone;
    return bone;
}
PmxBone Tail(PmxBone bone, Float3 offset) {
    bone.tailOffset = offset;
    return bone;
}

std::vector<PmxBone> Skeleton() {
    std::vector<PmxBone> b(kBoneCount);
    b[kRoot] = Tail(MakeBone(u"全ての親", u"mother", {0, 0, 0}, -1, kPmxBoneMovable), {0, 2, 0});
    b[kCenter] =
        Tail(MakeBone(u"センター", u"center", kCenterAt, kRoot, kPmxBoneMovable), {0, -1.5f, 0});
    b[kLowerBody] = Tail(MakeBone(u"下半身", u"lower body", kHipsAt, kCenter, 0), {0, -1.8f, 0});
    b[kUpperBody] = Tail(MakeBone(u"上半身", u"upper body", kHipsAt, kCenter, 0), kNeck);
    b[kNeck] = Tail(MakeBone(u"首", u"neck", kNeckAt, kUpperBody, 0), kHead);
    b[kHead] = Tail(MakeBone(u"頭", u"head", kHeadAt, kNeck, 0), {0, 2.6f, 0});
    const std::u16string sides[2] = {u"左", u"右"};
    const std::u16string english[2] = {u"left ", u"right "};
    for (int side = 0; side < 2; ++side) {
        auto at = [side](Float3 p) { return side == 0 ? p : MirrorX(p); };
        const std::int32_t o = side == 0 ? 0 : kShoulderR - kShoulderL;
        const std::u16string& s = sides[side];
        const std::u16string& e = english[side];
        b[kShoulderL + o] =
            Tail(MakeBone(s + u"肩", e + u"shoulder", at(kShoulderAt), kUpperBody, 0), kArmL + o);
        b[kArmL + o] =
            Tail(MakeBone(s + u"腕", e + u"arm", at(kArmAt), kShoulderL + o, 0), kElbowL + o);
        b[kElbowL + o] =
            Tail(MakeBone(s + u"ひじ", e + u"elbow", at(ElbowAt()), kArmL + o, 0), kWristL + o);
        b[kWristL + o] = Tail(MakeBone(s + u"手首", e + u"wrist", at(WristAt()), kElbowL + o, 0),
                              at(kArmDirection * 1.0f));

        const std::int32_t l = side == 0 ? 0 : kLegR - kLegL;
        b[kLegL + l] = Tail(MakeBone(s + u"足", e + u"leg", at(kLegAt), kLowerBody, 0), kKneeL + l);
        b[kKneeL + l] =
            Tail(MakeBone(s + u"ひざ", e + u"knee", at(kKneeAt), kLegL + l, 0), kAnkleL + l);
        b[kAnkleL + l] =
            Tail(MakeBone(s + u"足首", e + u"ankle", at(kAnkleAt), kKneeL + l, 0), kToeL + l);
        b[kToeL + l] =
            Tail(MakeBone(s + u"つま先", e + u"toe", at(kToeAt), kAnkleL + l, 0), {0, 0, -0.5f});

        // Leg IK as content rigs it: the ankle reaches for the IK bone, the
        // knee bends backwards only and never quite straight.
        PmxBone ik = Tail(MakeBone(s + u"足ＩＫ", e + u"leg IK", at(kAnkleAt), kRoot,
                                   kPmxBoneMovable | kPmxBoneIk),
                          {0, 0, 1.5f});
        ik.ikTargetIndex = kAnkleL + l;
        ik.ikLoopCount = 40;
        ik.ikLimitAngle = 2.0f;
        PmxIkLink knee;
        knee.boneIndex = kKneeL + l;
        knee.hasLimit = 1;
        knee.lowerLimit = {-kPi, 0, 0};
        knee.upperLimit = {-0.5f * kPi / 180.0f, 0, 0};
        PmxIkLink leg;
        leg.boneIndex = kLegL + l;
        ik.ikLinks = {knee, leg};
        b[kLegIkL + side] = ik;

        // The toe IK turns the ankle so that the foot keeps pointing where
        // the leg IK bone carries it, flat on the ground, whatever the knee.
        PmxBone toeIk = Tail(MakeBone(s + u"つま先ＩＫ", e + u"toe IK", at(kToeAt), kLegIkL + side,
                                      kPmxBoneMovable | kPmxBoneIk),
                             {0, -1.0f, 0});
        toeIk.ikTargetIndex = kToeL + l;
        toeIk.ikLoopCount = 3;
        toeIk.ikLimitAngle = 4.0f;
        PmxIkLink ankle;
        ankle.boneIndex = kAnkleL + l;
        toeIk.ikLinks = {ankle};
        b[kToeIkL + side] = toeIk;
    }
    b[kHair1] = Tail(MakeBone(u"髪1", u"hair 1", HairAt(0), kHead, 0), kHair2);
    b[kHair2] = Tail(MakeBone(u"髪2", u"hair 2", HairAt(1), kHair1, 0), kHair3);
    b[kHair3] = Tail(MakeBone(u"髪3", u"hair 3", HairAt(2), kHair2, 0), kHairDirection);
    return b;
}

PmxMaterial MakeMaterial(std::u16string name, std::u16string english, Float4 diffuse,
                         std::int32_t toon, bool edge) {
    PmxMaterial m;
    m.name = std::move(name);
    m.nameEnglish = std::move(english);
    m.diffuse = diffuse;
    m.specular = {0.1f, 0.1f, 0.1f, 1.0f};
    m.specularPower = 5.0f;
    m.ambient = {0.7f, 0.7f, 0.7f, 1.0f};
    m.drawFlags = kPmxMaterialGroundShadow | kPmxMaterialCastsShadow | kPmxMaterialReceivesShadow;
    if (edge) {
        m.drawFlags |= kPmxMaterialEdge;
    }
    m.edgeColor = {0.16f, 0.1f, 0.12f, 1.0f};
    // Outlines are pushed out by edgeSize / 87.04 units: about two pixels
    // at the default camera distance.
    m.edgeSize = edge ? 5.0f : 0.0f;
    m.textureIndex = -1;
    m.sphereTextureIndex = -1;
    m.sphereMode = 0;
    m.sharedToon = 1;
    m.toonIndex = toon;
    return m;
}

// Moves the vertices of shapes vertically away from the middle height of
// each (spread > 0 stretches, spread < 0 squeezes).
PmxMorph VerticalMorph(const PmxModel& model, std::u16string name, std::u16string english,
                       std::uint32_t panel, std::initializer_list<Shape> shapes, float spread) {
    PmxMorph morph;
    morph.name = std::move(name);
    morph.nameEnglish = std::move(english);
    morph.panel = panel;
    morph.type = kPmxMorphVertex;
    for (const Shape& shape : shapes) {
        float low = model.vertices[shape.first].position.y, high = low;
        for (std::uint32_t v = shape.first; v < shape.end; ++v) {
            low = std::min(low, model.vertices[v].position.y);
            high = std::max(high, model.vertices[v].position.y);
        }
        for (std::uint32_t v = shape.first; v < shape.end; ++v) {
            const float dy = model.vertices[v].position.y - 0.5f * (low + high);
            morph.vertexOffsets.push_back({static_cast<std::int32_t>(v), {0, dy * spread, 0}});
        }
    }
    return morph;
}

PmxRigidBody MakeBody(std::u16string name, std::int32_t bone, std::uint32_t shape, Float3 size,
                      Float3 position, std::uint32_t mode, std::uint8_t group,
                      std::uint16_t collidesWith) {
    PmxRigidBody body;
    body.name = std::move(name);
    body.boneIndex = bone;
    body.group = group;
    body.noCollisionMask = collidesWith;
    body.shape = shape;
    body.size = size;
    body.position = position;
    body.physicsMode = mode;
    body.mass = 1.0f;
    body.linearDamping = 0.5f;
    body.angularDamping = 0.8f;
    body.restitution = 0.0f;
    body.friction = 0.5f;
    return body;
}

// Runs shape(at, arm, leg) for the left side, then mirrored for the right:
// at mirrors a point, arm and leg shift a left bone to its side.
template <typename ShapeMaker>
void BothSides(ShapeMaker shape) {
    shape([](Float3 p) { return p; }, 0, 0);
    shape(MirrorX, kShoulderR - kShoulderL, kLegR - kLegL);
}

void AddSkin(MeshBuilder& mesh) {
    mesh.BeginMaterial();
    mesh.AddLathe(Ellipsoid(kHeadMiddle, kHeadRadius, kHead, 32));
    mesh.AddLathe({.start = kNeckAt + Float3{0, -0.6f, 0},
                   .end = kHeadAt + Float3{0, 0.3f, 0},
                   .r0 = 0.55f,
                   .r1 = 0.55f,
                   .cap0 = 0.3f,
                   .cap1 = 0.3f,
                   .bone = kNeck});
    BothSides([&](auto at, std::int32_t arm, std::int32_t) {
        mesh.AddLathe(Capsule(at(ElbowAt()), at(WristAt()), 0.48f, 0.4f, kElbowL + arm));
        Lathe hand = Ellipsoid(at(WristAt() + kArmDirection * 0.6f), 0.5f, kWristL + arm);
        hand.axis = at(kArmDirection);
        hand.cap0 = hand.cap1 = 0.75f;
        hand.scaleU = 0.6f;
        mesh.AddLathe(hand);
    });
    mesh.EndMaterial(MakeMaterial(u"肌", u"skin", {1.0f, 0.86f, 0.78f, 1.0f}, 1, true));
}

// Shirt, trousers and shoes, one material each; the shirt wears the texture.
void AddClothes(MeshBuilder& mesh) {
    mesh.BeginMaterial();
    mesh.AddLathe({.start = kHipsAt + Float3{0, 0.5f, 0},
                   .end = kNeckAt + Float3{0, -0.3f, 0},
                   .r0 = 1.7f,
                   .r1 = 2.2f,
                   .cap0 = 0.4f,
                   .cap1 = 0.9f,
                   .scaleU = 0.62f,
                   .bone = kUpperBody,
                   .segments = 32});
    BothSides([&](auto at, std::int32_t arm, std::int32_t) {
        mesh.AddLathe(Capsule(at(kArmAt), at(ElbowAt()), 0.62f, 0.52f, kArmL + arm));
    });
    PmxMaterial shirt = MakeMaterial(u"服", u"shirt", {1, 1, 1, 1}, 0, true);
    shirt.textureIndex = 0;
    mesh.EndMaterial(shirt);

    mesh.BeginMaterial();
    mesh.AddLathe({.start = kHipsAt + Float3{0, -1.2f, 0},
                   .end = kHipsAt + Float3{0, 0.9f, 0},
                   .r0 = 2.15f,
                   .r1 = 1.8f,
                   .cap0 = 0.8f,
                   .cap1 = 0.4f,
                   .scaleU = 0.66f,
                   .bone = kLowerBody,
                   .segments = 32});
    BothSides([&](auto at, std::int32_t, std::int32_t leg) {
        mesh.AddLathe(Capsule(at(kLegAt), at(kKneeAt), 0.95f, 0.75f, kLegL + leg, 20));
    });
    mesh.EndMaterial(MakeMaterial(u"ズボン", u"trousers", {0.2f, 0.24f, 0.42f, 1.0f}, 2, true));

    mesh.BeginMaterial();
    BothSides([&](auto at, std::int32_t, std::int32_t leg) {
        mesh.AddLathe(Capsule(at(kKneeAt), at(kAnkleAt), 0.72f, 0.55f, kKneeL + leg, 20));
        mesh.AddBox(at({kAnkleAt.x, 0.45f, -0.55f}), {0.62f, 0.45f, 1.45f}, kAnkleL + leg);
    });
    mesh.EndMaterial(MakeMaterial(u"靴", u"shoes", {0.62f, 0.2f, 0.18f, 1.0f}, 3, true));
}

void AddHair(MeshBuilder& mesh) {
    mesh.BeginMaterial();
    mesh.AddLathe(Ellipsoid(kHeadMiddle + Float3{0, 0.3f, 0.3f}, 2.12f, kHead, 32));
    for (int i = 0; i < 3; ++i) {
        const float r0 = 0.62f - 0.14f * static_cast<float>(i);
        mesh.AddLathe(Capsule(HairAt(i), HairAt(i + 1), r0, r0 - 0.14f, kHair1 + i));
    }
    mesh.EndMaterial(MakeMaterial(u"髪", u"hair", {0.36f, 0.22f, 0.16f, 1.0f}, 4, true));
}

// Eyes and mouth: flat ellipsoids standing out of the face, their axis along
// the face's normal. Their vertices are what the face morphs move.
void AddFace(PmxModel& m, MeshBuilder& mesh) {
    auto faceShape = [&](float x, float y, float rx, float ry) {
        const float dx = x - kHeadMiddle.x, dy = y - kHeadMiddle.y;
        const Float3 onFace{
            x, y, kHeadMiddle.z - std::sqrt(kHeadRadius * kHeadRadius - dx * dx - dy * dy)};
        return mesh.AddLathe({.start = onFace,
                              .end = onFace,
                              .axis = onFace - kHeadMiddle,
                              .r0 = rx,
                              .r1 = rx,
                              .cap0 = 0.18f,
                              .cap1 = 0.18f,
                              .scaleV = ry / rx,
                              .bone = kHead,
                              .segments = 16});
    };
    mesh.BeginMaterial();
    const Shape eyeL = faceShape(0.66f, 17.8f, 0.26f, 0.4f);
    const Shape eyeR = faceShape(-0.66f, 17.8f, 0.26f, 0.4f);
    mesh.EndMaterial(MakeMaterial(u"目", u"eyes", {0.12f, 0.1f, 0.16f, 1.0f}, 0, false));
    mesh.BeginMaterial();
    const Shape mouth = faceShape(0, 16.85f, 0.38f, 0.1f);
    mesh.EndMaterial(MakeMaterial(u"口", u"mouth", {0.55f, 0.16f, 0.2f, 1.0f}, 0, false));

    m.morphs = {
        VerticalMorph(m, u"まばたき", u"blink", 2, {eyeL, eyeR}, -0.85f),
        VerticalMorph(m, u"あ", u"a", 3, {mouth}, 3.0f),
    };
}

std::vector<PmxDisplayFrame> DisplayFrames() {
    PmxDisplayFrame root{u"Root", u"Root", 1, {{0, kRoot}}};
    PmxDisplayFrame face{u"表情", u"Exp", 1, {{1, 0}, {1, 1}}};
    PmxDisplayFrame body{u"体", u"Body", 0, {}};
    for (std::int32_t b = kCenter; b < kBoneCount; ++b) {
        body.elements.push_back({0, b});
    }
    return {root, face, body};
}

// The hair hangs from a body that follows the head; a box on the upper body
// keeps it off the back. Hair collides with that box only.
void AddHairPhysics(PmxModel& m) {
    constexpr std::uint8_t kHeadGroup = 0, kHairGroup = 1, kTorsoGroup = 2;
    m.rigidBodies = {
        MakeBody(u"頭", kHead, 0, {1.9f, 0, 0}, kHeadMiddle, 0, kHeadGroup, 0),
        MakeBody(u"上半身", kUpperBody, 1, {1.9f, 2.2f, 1.25f}, {0, 13.2f, 0}, 0, kTorsoGroup,
                 1 << kHairGroup),
    };
    for (int i = 0; i < 3; ++i) {
        const std::u16string name = u"髪" + std::u16string(1, static_cast<char16_t>(u'1' + i));
        m.rigidBodies.push_back(MakeBody(name, kHair1 + i, 0, {0.5f - 0.08f * i, 0, 0},
                                         (HairAt(i) + HairAt(i + 1)) * 0.5f, 1, kHairGroup,
                                         1 << kTorsoGroup));
    }
    for (int i = 0; i < 3; ++i) {
        PmxJoint joint;
        joint.name = u"髪" + std::u16string(1, static_cast<char16_t>(u'1' + i));
        joint.type = 0;
        joint.rigidBodyA = i == 0 ? 0 : 1 + i;
        joint.rigidBodyB = 2 + i;
        joint.position = HairAt(i);
        joint.rotationLower = {-1.0f, -0.2f, -0.5f};
        joint.rotationUpper = {1.0f, 0.2f, 0.5f};
        joint.springRotation = {8.0f, 8.0f, 8.0f};
        m.joints.push_back(joint);
    }
}

}  // namespace

PmxModel DemoModel() {
    PmxModel m;
    m.signature = u"PMX ";
    m.version = 2.0f;
    m.textEncoding = 0;
    m.name = u"QVデモ";
    m.nameEnglish = u"QV demo figure";
    m.comment = u"QVの組み込みデモ用モデル";
    m.commentEnglish = u"The built-in demo figure of QV.";
    m.bones = Skeleton();
    m.textures = {std::u16string(
        kDemoTextureFile, kDemoTextureFile + std::char_traits<char>::length(kDemoTextureFile))};

    MeshBuilder mesh(m);
    AddSkin(mesh);
    AddClothes(mesh);
    AddHair(mesh);
    AddFace(m, mesh);
    m.displayFrames = DisplayFrames();
    AddHairPhysics(m);

    m.additionalUvCount = 0;
    m.vertexIndexSize = m.vertices.size() < 65536 ? 2 : 4;
    m.textureIndexSize = 1;
    m.materialIndexSize = 1;
    m.boneIndexSize = 1;
    m.morphIndexSize = 1;
    m.rigidBodyIndexSize = 1;
    return m;
}

std::vector<std::uint8_t> DemoTexture() {
    // A plaid: light blue ground, white stripes across, darker ones down.
    constexpr int kSize = 64;
    std::vector<std::uint8_t> rgba(kSize * kSize * 4);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            float r = 0.55f, g = 0.74f, b = 0.95f;
            if (y % 16 < 3) {
                r = g = b = 0.97f;
            } else if (x % 16 < 3) {
                r *= 0.7f, g *= 0.75f, b *= 0.85f;
            }
            std::uint8_t* p = &rgba[(y * kSize + x) * 4];
            p[0] = static_cast<std::uint8_t>(r * 255.0f);
            p[1] = static_cast<std::uint8_t>(g * 255.0f);
            p[2] = static_cast<std::uint8_t>(b * 255.0f);
            p[3] = 255;
        }
    }
    std::vector<std::uint8_t> png;
    stbi_write_png_to_func(
        [](void* context, void* data, int size) {
            auto* out = static_cast<std::vector<std::uint8_t>*>(context);
            const auto* bytes = static_cast<const std::uint8_t*>(data);
            out->insert(out->end(), bytes, bytes + size);
        },
        &png, kSize, kSize, 4, rgba.data(), kSize * 4);
    return png;
}

}  // namespace qv
