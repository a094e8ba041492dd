// The demo figure written in the older model format must pose exactly as its newer twin does.
#include <gtest/gtest.h>

#include <cmath>

#include "demo/demo_content.h"
#include "demo/pmd_writer.h"
#include "formats/pmd_model.h"
#include "runtime/model_instance.h"

namespace qv {

namespace {

// The demo figure as the older format can hold it: bone tails are bones or
// nothing there, so the tail offsets go.
PmxModel NewerTwin() {
    PmxModel model = DemoModel();
    for (PmxBone& bone : model.bones) {
        if ((bone.flags & kPmxBoneTailIsBone) == 0) {
            bone.tailOffset = {};
        }
    }
    return model;
}

float Distance(const Vector4& a, const Vector4& b) {
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) +
                     (a.z - b.z) * (a.z - b.z));
}

TEST(PmdTwinTest, TheDemoFigurePosesAsItsNewerTwinOverTheWholeDance) {
    PmxModel older;
    ASSERT_EQ(ParsePmdModel(older, EncodePmd(PmdFileOf(DemoModel()))), S_OK);
    PmxModel newer;
    ASSERT_EQ(ParsePmxModel(newer, EncodePmx(NewerTwin())), S_OK);
    ASSERT_EQ(older.bones.size(), newer.bones.size());
    ASSERT_EQ(older.morphs.size(), newer.morphs.size());
    ASSERT_EQ(older.rigidBodies.size(), newer.rigidBodies.size());
    // The skeleton reads back as the twin states it: IK limits in the newer
    // unit, the knees' limits implied by their names.
    for (std::size_t i = 0; i < older.bones.size(); ++i) {
        const PmxBone &o = older.bones[i], &n = newer.bones[i];
        EXPECT_EQ(o.name, n.name);
        EXPECT_EQ(o.parentIndex, n.parentIndex);
        EXPECT_EQ(o.position, n.position);
        EXPECT_EQ(o.flags & kPmxBoneIk, n.flags & kPmxBoneIk);
        EXPECT_EQ(o.ikTargetIndex, n.ikTargetIndex);
        EXPECT_EQ(o.ikLoopCount, n.ikLoopCount);
        EXPECT_EQ(o.ikLimitAngle, n.ikLimitAngle);
        EXPECT_EQ(o.ikLinks, n.ikLinks) << i;
    }
    // Bodies come back in model space from their bone-relative positions.
    for (std::size_t i = 0; i < older.rigidBodies.size(); ++i) {
        const Float3 a = older.rigidBodies[i].position, b = newer.rigidBodies[i].position;
        EXPECT_NEAR(a.x, b.x, 1e-5f);
        EXPECT_NEAR(a.y, b.y, 1e-5f);
        EXPECT_NEAR(a.z, b.z, 1e-5f);
    }

    VmdMotion dance;
    ASSERT_EQ(ParseVmdMotion(dance, EncodeVmd(DemoMotion())), S_OK);
    ModelInstance a, b;
    ASSERT_EQ(CreateModelInstance(a, older), S_OK);
    ASSERT_EQ(CreateModelInstance(b, newer), S_OK);
    AttachMotion(a, dance);
    AttachMotion(b, dance);
    ASSERT_GT(a.motion.end, 1.0f);
    ASSERT_EQ(a.motion.end, b.motion.end);
    a.playing = b.playing = 1;
    float worst = 0.0f;
    int frames = 0;
    while (a.motion.time < a.motion.end) {
        UpdateModel(a, 1.0f / 30.0f);
        UpdateModel(b, 1.0f / 30.0f);
        ++frames;
        for (std::size_t i = 0; i < a.bones.size(); ++i) {
            worst = std::max(worst, Distance(a.bones[i].jointPosition, b.bones[i].jointPosition));
        }
        for (std::size_t m = 0; m < a.morphWeights.size(); ++m) {
            ASSERT_EQ(a.morphWeights[m], b.morphWeights[m]) << "frame " << frames;
        }
    }
    EXPECT_GT(frames, 100);
    EXPECT_LE(worst, 1e-4f);
}

}  // namespace

}  // namespace qv
