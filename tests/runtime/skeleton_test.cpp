// Bones must pose about their heads, with bad parents, cycles and deep chains survived.
#include "tests/runtime/test_models.h"
#include "tests/support/content_writers.h"

namespace qv {

namespace {

// Tails given as offsets and as bones, and a bone listed before its parent.
PmxModel MixedModel() {
    PmxModel model;
    model.bones.push_back(MakeBone(u"root", {0, 0, 0}, -1, {0, 1, 0}));
    model.bones.push_back(TailToBone(MakeBone(u"hip", {0, 10, 0}, 0), 2));
    model.bones.push_back(TailToBone(MakeBone(u"spine", {0, 12, 1}, 1), 3));
    model.bones.push_back(MakeBone(u"neck", {0, 15, 0}, 2, {0, 2, 0.5f}));
    model.bones.push_back(MakeBone(u"early", {3, 4, 5}, 5, {1, 0, 0}));
    model.bones.push_back(MakeBone(u"late", {2, 2, 2}, 0, {0, 0, 1}));
    // Tail flag with tail bone 0 counts as no tail bone: the child's offset is
    // measured from position + tailOffset.
    model.bones.push_back(TailToBone(MakeBone(u"zeroTail", {5, 0, 0}, 0), 0));
    model.bones.push_back(MakeBone(u"zeroChild", {5, 1, 0}, 6, {0, 1, 0}));
    return model;
}

TEST(Skeleton, RestPoseSitsEveryFrameAtItsTail) {
    ModelInstance instance = MakeInstance(MixedModel());
    for (const BoneState& bone : instance.bones) {
        SCOPED_TRACE(bone.index);
        ExpectNear(bone.worldMatrix, TranslationMatrix(bone.restTail));
        ExpectNear(SkinningMatrix(bone), Matrix4{});
        ExpectNear(bone.jointPosition, bone.restHead);
        EXPECT_EQ(bone.jointPosition.w, 1.0f);
    }
    ExpectNear(instance.bones[1].restOffset, {0, 9, 0, 0});  // from the root's tail
    ExpectNear(instance.bones[2].restOffset, {0, 0, 0, 0});  // the hip's tail is the spine
    ExpectNear(instance.bones[4].restOffset, {1, 2, 2, 0});
    ExpectNear(instance.bones[7].restOffset, {0, 1, 0, 0});
    EXPECT_EQ(instance.bones[4].parent, &instance.bones[5]);
    EXPECT_EQ(
        instance.bones[0].children,
        (std::vector<BoneState*>{&instance.bones[1], &instance.bones[5], &instance.bones[6]}));
}

TEST(Skeleton, PoseMovesTheSubtreeAboutTheHead) {
    ModelInstance instance = MakeInstance(MixedModel());
    BoneState& hip = instance.bones[1];
    hip.rotation = AxisAngle(1, 0, 0, kPi / 2);
    hip.translation = Add3(hip.restOffset, {1, 0, 0});
    UpdateSkeleton(instance);
    // The spine's head (2 up, 1 forward of the hip) turns a quarter about X.
    ExpectNear(hip.jointPosition, {1, 10, 0, 1});
    ExpectNear(instance.bones[2].jointPosition, {1, 9, 2, 1});
    ExpectNear(TransformPoint({0, 12, 1, 1}, SkinningMatrix(instance.bones[2])), {1, 9, 2, 1});
    ExpectSameRotation(instance.bones[3].worldRotation, hip.rotation);
    ExpectNear(instance.bones[5].worldMatrix, TranslationMatrix(instance.bones[5].restTail));
}

TEST(Skeleton, BadParentsBecomeRootsAndCyclesAreBroken) {
    PmxModel model;
    model.bones.push_back(MakeBone(u"a", {0, 0, 0}, 1, {0, 1, 0}));  // a -> b
    model.bones.push_back(MakeBone(u"b", {0, 1, 0}, 2, {0, 1, 0}));  // b -> c
    model.bones.push_back(MakeBone(u"c", {0, 2, 0}, 0, {0, 1, 0}));  // c -> a closes the cycle
    model.bones.push_back(MakeBone(u"self", {1, 0, 0}, 3, {0, 1, 0}));
    model.bones.push_back(MakeBone(u"far", {2, 0, 0}, 99, {0, 1, 0}));
    model.bones.push_back(MakeBone(u"negative", {3, 0, 0}, -7, {0, 1, 0}));
    ModelInstance instance = MakeInstance(model);
    EXPECT_EQ(instance.bones[0].parent, &instance.bones[1]);
    EXPECT_EQ(instance.bones[1].parent, &instance.bones[2]);
    for (int i = 2; i < 6; ++i) {
        EXPECT_EQ(instance.bones[i].parent, nullptr) << i;
    }
    // Every root is posed on its own.
    for (BoneState& bone : instance.bones) {
        bone.translation = Add3(bone.restOffset, {0, 0, 1});
    }
    UpdateSkeleton(instance);
    for (int i = 2; i < 6; ++i) {
        ExpectNear(instance.bones[i].framePosition, Add3(instance.bones[i].restTail, {0, 0, 1}));
    }
    ExpectNear(instance.bones[0].framePosition, Add3(instance.bones[0].restTail, {0, 0, 3}));
}

TEST(Skeleton, DeepChainsNeedNoDeepRecursion) {
    constexpr int kDepth = 100000;
    PmxModel model;
    for (int i = 0; i < kDepth; ++i) {
        model.bones.push_back(MakeBone(u"n", {0, 0.001f * i, 0}, i - 1, {0, 0.001f, 0}));
    }
    ModelInstance instance = MakeInstance(model);
    instance.bones[0].translation = {5, 0, 0, 0};
    UpdateModel(instance, 0.0f);
    EXPECT_NEAR(instance.bones.back().jointPosition.x, 5.0f, 1e-4f);
}

}  // namespace

// A model converted from another format stores NaN as its root's tail; every
// bone's frame sits at a tail, so one such number would take every bone and
// the whole model with it.
TEST(Skeleton, NumbersThatAreNotFiniteInTheFileNeverReachABone) {
    PmxModel source = MixedModel();
    source.vertexIndexSize = source.textureIndexSize = source.materialIndexSize = 4;
    source.boneIndexSize = source.morphIndexSize = source.rigidBodyIndexSize = 4;
    source.bones[0].tailOffset = {std::nanf(""), 1, 0};
    source.bones[3].position = {0, INFINITY, 0};
    source.bones[5].appendParentIndex = 0;
    source.bones[5].appendRatio = std::nanf("");
    source.bones[5].flags |= kPmxBoneAppendRotation;
    PmxModel read;
    ASSERT_EQ(ParsePmxModel(read, EncodePmx(source)), S_OK);
    EXPECT_EQ(read.nonFinite.count, 3u);
    ModelInstance instance = MakeInstance(read);
    instance.bones[1].rotation = AxisAngle(1, 0, 0, 0.5f);
    UpdateModel(instance, 0);
    for (const BoneState& bone : instance.bones) {
        for (const auto& row : bone.worldMatrix.m) {
            for (float v : row) {
                ASSERT_TRUE(std::isfinite(v)) << bone.index;
            }
        }
    }
    ExpectNear(instance.bones[0].restTail, {0, 1, 0, 0});
}

}  // namespace qv
