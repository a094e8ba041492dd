// Motions must ease as their curves say, hold at the ends and skip what cannot play.
#include "tests/runtime/test_models.h"
#include "tests/support/content_writers.h"

namespace qv {

namespace {

// Two root bones, a vertex morph and a group morph.
PmxModel TwoBoneModel() {
    PmxModel model;
    model.bones.push_back(MakeBone(u"a", {0, 1, 0}, -1, {0, 1, 0}));
    model.bones.push_back(MakeBone(u"b", {1, 1, 0}, -1, {0, 1, 0}));
    model.vertices.resize(2);
    PmxMorph smile;
    smile.name = u"smile";
    smile.type = kPmxMorphVertex;
    model.morphs.push_back(smile);
    PmxMorph group;
    group.name = u"group";
    group.type = kPmxMorphGroup;
    model.morphs.push_back(group);
    return model;
}

struct MotionFixture : testing::Test {
    ModelInstance instance = MakeInstance(TwoBoneModel());
    BoneState& a = instance.bones[0];
    float& smile = instance.morphWeights[0];

    // The bone's translation relative to rest, on X.
    float AtX(float time) {
        instance.motion.time = time;
        EvaluateMotion(instance);
        return a.translation.x - a.restOffset.x;
    }
};

float Bezier(float p1, float p2, float u) {
    return 3 * (1 - u) * (1 - u) * u * p1 + 3 * (1 - u) * u * u * p2 + u * u * u;
}

using AttachMotionTest = MotionFixture;
using EvaluateMotionTest = MotionFixture;
using UpdateModelTest = MotionFixture;

TEST_F(AttachMotionTest, LinearSegmentsStayTwoKeysAndInterpolateStraight) {
    VmdMotion motion;
    AddBoneKey(motion, u"a", 0, {0, 0, 0});
    AddBoneKey(motion, u"a", 30, {3, 6, 9}, TurnY(kPi / 2));
    AttachMotion(instance, motion);
    const BoneTrack& track = instance.motion.boneTracks.at(u"a");
    EXPECT_EQ(track.xKeys.size() + track.yKeys.size() + track.zKeys.size(), 6u);
    EXPECT_EQ(track.rotationKeys.size(), 2u);
    EXPECT_FLOAT_EQ(instance.motion.end, 1.0f);
    EXPECT_NEAR(AtX(0.25f), 0.75f, 1e-6f);
    ExpectNear(a.translation, Add3(a.restOffset, {0.75f, 1.5f, 2.25f}));
    ExpectSameRotation(a.rotation, AxisAngle(0, 1, 0, kPi / 8));
}

TEST_F(AttachMotionTest, CurvedSegmentsAreSampledAlongTheBezier) {
    VmdMotion motion;
    AddBoneKey(motion, u"a", 0, {0, 0, 0}, {0, 0, 0, 1}, Curve(127, 0, 0, 127));
    AddBoneKey(motion, u"a", 30, {6, 3, 3}, TurnY(kPi / 2));
    AttachMotion(instance, motion);
    const BoneTrack& track = instance.motion.boneTracks.at(u"a");
    ASSERT_EQ(track.xKeys.size(), 61u);  // 59 samples on X, 29 on the others
    EXPECT_EQ(track.yKeys.size(), 31u);
    EXPECT_EQ(track.zKeys.size(), 31u);
    EXPECT_EQ(track.rotationKeys.size(), 31u);
    EXPECT_EQ(track.zKeys[0].x1, 1.0f);  // from byte 17, not byte 2
    EXPECT_EQ(track.rotationKeys[0].x1, 1.0f);
    EXPECT_EQ(track.xKeys.back().sampled, 0);

    // A sample is timed by Bx and valued by By of the earlier key.
    const CurveKey& sample = track.xKeys[20];
    EXPECT_EQ(sample.sampled, 1);
    EXPECT_NEAR(sample.time, Bezier(1, 0, 20.0f / 60), 1e-6f);
    EXPECT_NEAR(sample.value, 6 * Bezier(0, 1, 20.0f / 60), 1e-5f);
    ExpectSameRotation(track.rotationKeys[10].rotation,
                       AxisAngle(0, 1, 0, kPi / 2 * Bezier(0, 1, 10.0f / 30)));
}

TEST_F(EvaluateMotionTest, EasesWithTheYPolynomialAtTheRawFraction) {
    VmdMotion motion;  // one frame apart: no samples, only easing (y1 = y2 = 1)
    AddBoneKey(motion, u"a", 0, {0, 0, 0}, {0, 0, 0, 1}, Curve(0, 127, 0, 127));
    AddBoneKey(motion, u"a", 1, {8, 0, 0});
    AttachMotion(instance, motion);
    EXPECT_NEAR(AtX(0.5f / 30), 8 * 0.875f, 1e-5f);
}

TEST_F(EvaluateMotionTest, SingleKeyHoldsFromItsTimeAndRestsBefore) {
    VmdMotion motion;
    AddBoneKey(motion, u"a", 10, {1, 2, 3}, TurnY(1.0f));
    AttachMotion(instance, motion);
    a.rotation = {0.5f, 0.5f, 0.5f, 0.5f};
    EXPECT_EQ(AtX(0.3f), 0.0f);
    EXPECT_EQ(a.rotation, Quaternion{});
    EXPECT_EQ(AtX(10.0f / 30), 1.0f);
    EXPECT_EQ(AtX(50.0f), 1.0f);
    EXPECT_EQ(a.rotation.y, TurnY(1.0f).y);
}

TEST_F(EvaluateMotionTest, KeyTimesGiveTheKeyValueWhereverTheCacheStands) {
    VmdMotion motion;
    AddBoneKey(motion, u"a", 0, {0, 0, 0});
    AddBoneKey(motion, u"a", 15, {0.1f, 0, 0});
    AddBoneKey(motion, u"a", 30, {0.7f, 0, 0});
    // Equal times: the later key holds at that time.
    AddBoneKey(motion, u"a", 45, {1, 0, 0}, TurnY(0.5f));
    AddBoneKey(motion, u"a", 45, {2, 0, 0}, TurnY(1.0f));
    AddBoneKey(motion, u"a", 60, {3, 0, 0});
    AddMorphKey(motion, u"smile", 5, 0.2f);
    AddMorphKey(motion, u"smile", 5, 0.9f);
    AttachMotion(instance, motion);
    for (float before : {0.0f, 0.1f, 0.5f, 0.9f, 1.5f, 1.7f, 2.0f}) {
        AtX(before);
        EXPECT_EQ(AtX(0.5f), 0.1f) << before;
        AtX(before);
        EXPECT_EQ(AtX(1.5f), 2.0f) << before;
        EXPECT_EQ(a.rotation.y, TurnY(1.0f).y) << before;
        AtX(5.0f / 30);
        EXPECT_EQ(smile, 0.9f) << before;
    }
}

TEST_F(EvaluateMotionTest, MorphsAreLinearAndZeroBeforeTheirFirstKey) {
    VmdMotion motion;
    AddMorphKey(motion, u"smile", 30, 0.0f);
    AddMorphKey(motion, u"smile", 60, 1.0f);
    AddMorphKey(motion, u"group", 0, 1.0f);   // every kind is driven
    AddMorphKey(motion, u"absent", 0, 1.0f);  // not in the model
    AttachMotion(instance, motion);
    EXPECT_EQ(instance.motion.morphTracks.size(), 2u);
    smile = 0.5f;
    AtX(0.5f);
    EXPECT_EQ(smile, 0.0f);
    AtX(1.25f);
    EXPECT_FLOAT_EQ(smile, 0.25f);
}

TEST_F(AttachMotionTest, ReplacesTracksOnlyWithLongerOnes) {
    VmdMotion first, single, longer;
    for (std::uint32_t frame : {0, 60}) {
        AddBoneKey(first, u"a", frame, {1, 0, 0});
        AddMorphKey(first, u"smile", frame, 0.1f);
        AddBoneKey(longer, u"a", frame / 2, {7, 0, 0});
        AddMorphKey(longer, u"smile", frame / 2, 0.7f);
    }
    AddBoneKey(single, u"a", 90, {5, 0, 0});
    AddBoneKey(single, u"b", 90, {5, 0, 0});
    AddMorphKey(single, u"smile", 90, 1.0f);
    AttachMotion(instance, first);
    AttachMotion(instance, single);
    EXPECT_EQ(instance.motion.boneTracks.at(u"a").xKeys.back().value, 1.0f);
    EXPECT_EQ(instance.motion.morphTracks.at(u"smile").keys.size(), 2u);
    EXPECT_EQ(instance.motion.boneTracks.at(u"b").xKeys.size(), 1u);  // a new name is added
    EXPECT_FLOAT_EQ(instance.motion.end, 3.0f);
    AttachMotion(instance, longer);
    EXPECT_EQ(instance.motion.boneTracks.at(u"a").xKeys.back().value, 7.0f);
    EXPECT_EQ(instance.motion.morphTracks.at(u"smile").keys.back().value, 0.7f);
    EXPECT_FLOAT_EQ(instance.motion.end, 3.0f);  // end never shrinks
}

TEST_F(AttachMotionTest, SkipsWhatCannotBePlayed) {
    int body = 0;
    instance.bones[1].drivingBody = reinterpret_cast<btRigidBody*>(&body);
    VmdMotion motion;
    AddBoneKey(motion, u"b", 0, {1, 0, 0});       // driven by a simulated body
    AddBoneKey(motion, u"nobody", 0, {1, 0, 0});  // not in the model
    motion.boneKeys[u"a"];                        // no keys
    AttachMotion(instance, motion);
    EXPECT_TRUE(instance.motion.boneTracks.empty());

    // Keys billions of frames apart, and control bytes beyond 127: a bounded
    // number of samples, all inside their segment.
    VmdMotion hostile;
    AddBoneKey(hostile, u"a", 0, {}, {0, 0, 0, 1}, Curve(127, 0, 0, 127));
    AddBoneKey(hostile, u"a", 4000000000u, {1, 0, 0});
    AttachMotion(instance, hostile);
    EXPECT_LE(instance.motion.boneTracks.at(u"a").xKeys.size(), 1025u);
    VmdMotion wild;
    AddBoneKey(wild, u"a", 0, {}, {0, 0, 0, 1}, Curve(255, 0, 255, 255));
    AddBoneKey(wild, u"a", 100, {1, 0, 0});
    AttachMotion(instance, wild);
    const auto& keys = instance.motion.boneTracks.at(u"a").xKeys;
    for (std::size_t i = 1; i < keys.size(); ++i) {
        EXPECT_GE(keys[i].time, keys[i - 1].time);
        EXPECT_LE(keys[i].time, 100.0f / 30);
    }
}

TEST_F(UpdateModelTest, PlayingStopsAtTheEndOnTheFinalKeys) {
    VmdMotion motion;
    AddBoneKey(motion, u"a", 0, {0, 0, 0});
    AddBoneKey(motion, u"a", 30, {1, 0, 0});
    AddMorphKey(motion, u"smile", 0, 1.0f);
    AttachMotion(instance, motion);
    UpdateModel(instance, 0.5f);  // paused: the clock stands
    EXPECT_EQ(instance.motion.time, 0.0f);
    EXPECT_EQ(smile, 0.0f);

    instance.playing = 1;
    UpdateModel(instance, 1.0f / 60);
    EXPECT_EQ(smile, 1.0f);  // a frame-0 key holds from the first frame
    UpdateModel(instance, 2.0f);
    EXPECT_EQ(instance.motion.time, 1.0f);
    EXPECT_EQ(a.translation.x - a.restOffset.x, 1.0f);  // the last key, exactly
    // At the end nothing is evaluated any more, so edits stay.
    a.translation.x = 42.0f;
    UpdateModel(instance, 0.1f);
    UpdateModel(instance, std::nanf(""));
    EXPECT_EQ(instance.motion.time, 1.0f);
    EXPECT_NEAR(a.framePosition.x, 42.0f, 1e-5f);

    instance.motion.fps = 0.0f;  // no rate: rewinding still lands on 0
    RewindMotion(instance);
    EXPECT_EQ(instance.motion.time, 0.0f);
    EXPECT_EQ(instance.motion.boneTracks.at(u"a").cachedIndex[0], 0u);
    EXPECT_EQ(a.translation.x, a.restOffset.x);
    VmdMotion more;  // and attaching cannot time keys, so adds nothing
    AddBoneKey(more, u"b", 30, {1, 0, 0});
    AttachMotion(instance, more);
    EXPECT_EQ(instance.motion.boneTracks.count(u"b"), 0u);
}

// A motion's 15-byte names: one cut inside a character is its own name, next
// to a bone named by its uncut prefix; a long morph name drives its morph.
TEST(AttachMotionNames, NamesCutInTheFileFindTheirOwnBones) {
    PmxModel model;
    model.bones.push_back(MakeBone(u"右スカートＢ３", {0, 0, 0}, -1, {0, 1, 0}));
    model.bones.push_back(MakeBone(u"右スカートＢ３親", {2, 0, 0}, -1, {0, 1, 0}));
    PmxMorph brow;
    brow.name = u"browOuterUpRight";
    brow.type = kPmxMorphVertex;
    PmxMorph twin = brow;  // the same first 15 bytes: the file drives both
    twin.name = u"browOuterUpRighX";
    model.morphs = {brow, twin};
    model.vertices.resize(1);
    ModelInstance instance = MakeInstance(model);
    VmdFile file;
    file.bones = {{EncodeCp932(u"右スカートＢ３"), 0, {1, 0, 0}},
                  {EncodeCp932(u"右スカートＢ３親").substr(0, 15), 0, {0, 0, 5}}};
    file.morphs = {{"browOuterUpRight", 0, 0.75f}};
    VmdMotion motion;
    ASSERT_EQ(ParseVmdMotion(motion, EncodeVmd(file)), S_OK);
    AttachMotion(instance, motion);
    EXPECT_EQ(instance.motion.boneTracks.size(), 2u);
    RewindMotion(instance);
    ExpectNear(instance.bones[0].jointPosition, {1, 0, 0, 1});
    ExpectNear(instance.bones[1].jointPosition, {2, 0, 5, 1});
    EXPECT_EQ(instance.morphWeights[0], 0.75f);
    EXPECT_EQ(instance.morphWeights[1], 0.75f);
}

}  // namespace

}  // namespace qv
