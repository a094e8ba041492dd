// The demo figure must read back whole and be a model the player can pose and draw.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "demo/demo_content.h"
#include "tools/inspect_report.h"

namespace qv {

namespace {

// The demo model as the player sees it: written out and read back.
const PmxModel& Parsed() {
    static const PmxModel model = [] {
        PmxModel parsed;
        const std::vector<std::uint8_t> bytes = EncodePmx(DemoModel());
        EXPECT_EQ(ParsePmxModel(parsed, bytes), S_OK);
        return parsed;
    }();
    return model;
}

std::int32_t BoneIndex(const PmxModel& model, const std::u16string& name) {
    for (std::size_t i = 0; i < model.bones.size(); ++i) {
        if (model.bones[i].name == name) {
            return static_cast<std::int32_t>(i);
        }
    }
    return -1;
}

Float3 Sub(Float3 a, Float3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Float3 Cross(Float3 a, Float3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
float Dot(Float3 a, Float3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

TEST(DemoModel, ReadsBackWhole) {
    const PmxModel& model = Parsed();
    EXPECT_EQ(model.version, 2.0f);
    EXPECT_EQ(PmxIndexWarnings(model), std::vector<std::string>{});
    // Everything written comes back as it was made.
    PmxModel made = DemoModel();
    made.signature = model.signature;
    EXPECT_TRUE(model == made);
}

TEST(DemoModel, HasTheStandardSkeletonWithLegIk) {
    const PmxModel& model = Parsed();
    for (const char16_t* name :
         {u"全ての親", u"センター", u"上半身", u"下半身", u"首", u"頭", u"左腕", u"右腕", u"左ひじ",
          u"右ひじ", u"左足", u"右足", u"左ひざ", u"右ひざ", u"左足首", u"右足首"}) {
        EXPECT_GE(BoneIndex(model, name), 0) << "missing bone";
    }
    for (const std::u16string side : {u"左", u"右"}) {
        const std::int32_t ik = BoneIndex(model, side + u"足ＩＫ");
        ASSERT_GE(ik, 0);
        const PmxBone& bone = model.bones[ik];
        EXPECT_TRUE(bone.flags & kPmxBoneIk);
        EXPECT_TRUE(bone.flags & kPmxBoneMovable);
        EXPECT_EQ(bone.ikTargetIndex, BoneIndex(model, side + u"足首"));
        // The goal sits on the ankle at rest.
        EXPECT_EQ(bone.position, model.bones[bone.ikTargetIndex].position);
        ASSERT_EQ(bone.ikLinks.size(), 2u);
        const PmxIkLink& knee = bone.ikLinks[0];
        EXPECT_EQ(knee.boneIndex, BoneIndex(model, side + u"ひざ"));
        EXPECT_EQ(knee.hasLimit, 1);
        EXPECT_LT(knee.lowerLimit.x, -3.0f);
        EXPECT_LT(knee.upperLimit.x, 0.0f);
        EXPECT_EQ(knee.lowerLimit.y, 0.0f);
        EXPECT_EQ(knee.upperLimit.z, 0.0f);
        EXPECT_EQ(bone.ikLinks[1].boneIndex, BoneIndex(model, side + u"足"));
        EXPECT_GT(bone.ikLoopCount, 0u);

        // The toe IK rides on the leg IK and turns the ankle only.
        const std::int32_t toeIk = BoneIndex(model, side + u"つま先ＩＫ");
        ASSERT_GE(toeIk, 0);
        const PmxBone& toe = model.bones[toeIk];
        EXPECT_EQ(toe.parentIndex, ik);
        EXPECT_EQ(toe.ikTargetIndex, BoneIndex(model, side + u"つま先"));
        ASSERT_EQ(toe.ikLinks.size(), 1u);
        EXPECT_EQ(toe.ikLinks[0].boneIndex, bone.ikTargetIndex);
    }
    // Parents come first, so one pass in file order poses the skeleton.
    for (std::size_t i = 0; i < model.bones.size(); ++i) {
        EXPECT_LT(model.bones[i].parentIndex, static_cast<std::int32_t>(i));
    }
}

TEST(DemoModel, HairChainHangsOnJointsFromABodyThatFollowsTheHead) {
    const PmxModel& model = Parsed();
    std::vector<std::int32_t> chain;
    for (std::size_t i = 0; i < model.rigidBodies.size(); ++i) {
        if (model.rigidBodies[i].physicsMode != 0) {
            chain.push_back(static_cast<std::int32_t>(i));
        }
    }
    ASSERT_GE(chain.size(), 2u);
    ASSERT_EQ(model.joints.size(), chain.size());
    const std::int32_t anchor = model.joints[0].rigidBodyA;
    EXPECT_EQ(model.rigidBodies[anchor].physicsMode, 0u);
    EXPECT_EQ(model.rigidBodies[anchor].boneIndex, BoneIndex(model, u"頭"));
    std::int32_t previous = anchor;
    for (std::size_t j = 0; j < model.joints.size(); ++j) {
        const PmxJoint& joint = model.joints[j];
        EXPECT_EQ(joint.rigidBodyA, previous);
        EXPECT_EQ(joint.rigidBodyB, chain[j]);
        EXPECT_EQ(model.rigidBodies[chain[j]].physicsMode, 1u);
        EXPECT_GE(model.rigidBodies[chain[j]].boneIndex, 0);
        EXPECT_LT(joint.rotationLower.x, joint.rotationUpper.x);
        EXPECT_GT(joint.springRotation.x, 0.0f);
        previous = chain[j];
    }
}

TEST(DemoModel, MaterialsHaveTextureToonEdgesAndShadows) {
    const PmxModel& model = Parsed();
    ASSERT_EQ(model.textures.size(), 1u);
    EXPECT_EQ(model.textures[0], u"qv_demo_shirt.png");
    std::uint32_t indices = 0, textured = 0, edged = 0;
    for (const PmxMaterial& material : model.materials) {
        indices += material.indexCount;
        textured += material.textureIndex == 0;
        edged += (material.drawFlags & kPmxMaterialEdge) != 0 && material.edgeSize > 0.0f;
        EXPECT_EQ(material.sharedToon, 1);
        EXPECT_GE(material.toonIndex, 0);
        EXPECT_LE(material.toonIndex, 9);
        EXPECT_TRUE(material.drawFlags & kPmxMaterialCastsShadow);
        EXPECT_TRUE(material.drawFlags & kPmxMaterialReceivesShadow);
        EXPECT_FALSE(material.drawFlags & kPmxMaterialDoubleSided);
        EXPECT_EQ(material.diffuse.w, 1.0f);
    }
    EXPECT_EQ(indices, model.indices.size());
    EXPECT_EQ(textured, 1u);
    EXPECT_GE(edged, 4u);
}

TEST(DemoModel, FaceMorphsMoveFaceVertices) {
    const PmxModel& model = Parsed();
    ASSERT_EQ(model.morphs.size(), 2u);
    for (const PmxMorph& morph : model.morphs) {
        EXPECT_EQ(morph.type, kPmxMorphVertex);
        ASSERT_FALSE(morph.vertexOffsets.empty());
        float largest = 0.0f;
        for (const PmxVertexMorphOffset& o : morph.vertexOffsets) {
            // On the front of the head.
            const Float3& p = model.vertices[o.vertexIndex].position;
            EXPECT_GT(p.y, 16.0f);
            EXPECT_LT(p.z, -1.0f);
            largest = std::max(largest, std::abs(o.offset.y));
        }
        EXPECT_GT(largest, 0.1f);
    }
    EXPECT_EQ(model.morphs[0].name, u"まばたき");
    EXPECT_EQ(model.morphs[1].name, u"あ");
}

TEST(DemoModel, StandsOnTheGroundTwentyUnitsTallFacingMinusZ) {
    const PmxModel& model = Parsed();
    float low = 1e9f, high = -1e9f;
    for (const PmxVertex& v : model.vertices) {
        low = std::min(low, v.position.y);
        high = std::max(high, v.position.y);
    }
    EXPECT_NEAR(low, 0.0f, 1e-4f);
    EXPECT_GT(high, 19.0f);
    EXPECT_LT(high, 21.0f);
    // The character's left (the viewer's right from the default camera) is +x.
    EXPECT_GT(model.bones[BoneIndex(model, u"左腕")].position.x, 0.0f);
}

// Front faces are clockwise seen from the front: the cross product of a
// face's first two edges points out, the same way as its vertex normals.
TEST(DemoModel, WindingAndNormalsAgree) {
    const PmxModel& model = Parsed();
    ASSERT_EQ(model.indices.size() % 3, 0u);
    std::size_t wrong = 0, degenerate = 0;
    for (std::size_t i = 0; i < model.indices.size(); i += 3) {
        const PmxVertex& a = model.vertices[model.indices[i]];
        const PmxVertex& b = model.vertices[model.indices[i + 1]];
        const PmxVertex& c = model.vertices[model.indices[i + 2]];
        const Float3 face = Cross(Sub(b.position, a.position), Sub(c.position, a.position));
        const float area = std::sqrt(Dot(face, face));
        if (!(area > 1e-7f)) {
            ++degenerate;
            continue;
        }
        for (const PmxVertex* v : {&a, &b, &c}) {
            EXPECT_NEAR(Dot(v->normal, v->normal), 1.0f, 1e-3f);
            wrong += Dot(face, v->normal) <= 0.0f;
        }
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(degenerate, 0u);
}

// Deforming by one bone, the way each shape of the figure is weighted, and
// only by bones that exist.
TEST(DemoModel, VerticesFollowOneExistingBone) {
    const PmxModel& model = Parsed();
    for (const PmxVertex& v : model.vertices) {
        ASSERT_EQ(v.weight.deformType, kPmxDeformBdef1);
        ASSERT_GE(v.weight.boneIndex[0], 0);
        ASSERT_LT(v.weight.boneIndex[0], static_cast<std::int32_t>(model.bones.size()));
        const PmxBone& bone = model.bones[v.weight.boneIndex[0]];
        EXPECT_FALSE(bone.flags & kPmxBoneIk);
        EXPECT_NE(bone.name, u"全ての親");
    }
}

}  // namespace

}  // namespace qv
