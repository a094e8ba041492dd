// IK must reach its goals within limits, only where chains are whole, as motions switch.
#include "tests/runtime/test_models.h"

namespace qv {

namespace {

constexpr std::size_t kThigh = 1, kKnee = 2, kAnkle = 3, kLegIk = 4;

PmxIkLink Link(std::int32_t bone, Float3 lower = {}, Float3 upper = {}, bool limit = false) {
    return {bone, static_cast<std::uint8_t>(limit), lower, upper};
}

// A leg 5 + 5 long hanging from (0, 10, 0) with a knee that bends backwards
// only, and an IK bone on the ankle.
PmxModel LegModel(std::uint32_t loops = 40) {
    PmxModel model;
    model.bones.push_back(MakeBone(u"center", {0, 10, 0}, -1));
    model.bones.push_back(TailToBone(MakeBone(u"thigh", {0, 10, 0}, 0), 2));
    model.bones.push_back(TailToBone(MakeBone(u"knee", {0, 5, 0}, 1), 3));
    model.bones.push_back(MakeBone(u"ankle", {0, 0, 0}, 2, {0, 0, -1}));
    model.bones.push_back(IkBone(MakeBone(u"legIK", {0, 0, 0}, -1, {0, 0, 1}), 3, loops, 2.0f,
                                 {Link(2, {-kPi, 0, 0}, {-0.008f, 0, 0}, true), Link(1)}));
    return model;
}

// One link turning a unit arm about Z; its goal starts on the hand.
PmxModel ArmModel(std::uint32_t loops, float limitAngle) {
    PmxModel model;
    model.bones.push_back(TailToBone(MakeBone(u"arm", {0, 0, 0}, -1), 1));
    model.bones.push_back(MakeBone(u"hand", {1, 0, 0}, 0, {0.1f, 0, 0}));
    model.bones.push_back(
        IkBone(MakeBone(u"armIK", {1, 0, 0}, -1), 1, loops, limitAngle, {Link(0)}));
    return model;
}

float KneeAngle(const ModelInstance& instance) {
    const Quaternion q = instance.bones[kKnee].rotation;
    EXPECT_NEAR(q.y, 0.0f, 1e-6f);
    EXPECT_NEAR(q.z, 0.0f, 1e-6f);
    return 2.0f * std::atan2(q.x, q.w);
}

void SolveTowards(ModelInstance& instance, std::size_t ik, Vector4 goal) {
    instance.bones[ik].translation = Add3(instance.bones[ik].restOffset, goal);
    UpdateSkeleton(instance);
    SolveIk(instance.bones[ik]);
}

TEST(BuildIk, EnablesCompleteChainsOnly) {
    PmxModel model = LegModel();
    PmxBone broken = model.bones[kLegIk];
    broken.ikLinks[1].boneIndex = 77;
    PmxBone empty = model.bones[kLegIk];
    empty.ikLinks.clear();
    model.bones.push_back(broken);
    model.bones.push_back(empty);
    ModelInstance instance = MakeInstance(model);
    EXPECT_EQ(instance.bones[kLegIk].ikTarget, &instance.bones[kAnkle]);
    EXPECT_EQ(instance.bones[5].ikEnabled, 0);
    EXPECT_EQ(instance.bones[5].ikLinks[1].bone, nullptr);
    EXPECT_EQ(instance.bones[6].ikEnabled, 0);
    ASSERT_EQ(instance.ikControls.size(), 1u);
    EXPECT_EQ(instance.ikControls[0].name, "legIK");
    EXPECT_EQ(instance.ikControls[0].ikEnabled, &instance.bones[kLegIk].ikEnabled);

    // A link moved by a simulated body cannot be posed by IK.
    int body = 0;
    instance.bones[kThigh].drivingBody = reinterpret_cast<btRigidBody*>(&body);
    BuildIk(instance, model);
    EXPECT_EQ(instance.bones[kLegIk].ikEnabled, 0);
    EXPECT_TRUE(instance.ikControls.empty());
}

TEST(SolveIk, ReachesGoalsWithinTheLegAndKeepsTheKneeInItsLimits) {
    for (const Vector4 goal : {Vector4{0, 3, 1}, {0, 4, -2}, {2, 4, 0}, {-1, 1.5f, 0.5f}}) {
        ModelInstance instance = MakeInstance(LegModel());
        SolveTowards(instance, kLegIk, goal);
        EXPECT_LT(Distance(instance.bones[kAnkle].jointPosition, goal), 1e-3f) << goal.x;
        const float knee = KneeAngle(instance);
        EXPECT_GE(knee, -kPi - 1e-5f);
        EXPECT_LE(knee, -0.008f + 1e-5f);
    }
    // One step towards a goal ahead of the hip wants the knee forwards: it
    // stops at the limit.
    ModelInstance instance = MakeInstance(LegModel(1));
    SolveTowards(instance, kLegIk, {0, 9, -6});
    EXPECT_NEAR(KneeAngle(instance), -0.008f, 1e-6f);
}

TEST(SolveIk, LeavesTheChainAloneWhenThereIsNothingToDo) {
    PmxModel noTarget = LegModel();
    noTarget.bones[kLegIk].ikTargetIndex = 1000;
    for (const PmxModel& model : {LegModel(0), noTarget}) {
        ModelInstance instance = MakeInstance(model);
        SolveTowards(instance, kLegIk, {0, 3, 1});
        EXPECT_EQ(instance.bones[kKnee].rotation, Quaternion{});
    }
    ModelInstance onGoal = MakeInstance(LegModel());
    onGoal.bones[kKnee].rotation = EulerToQuaternion(-0.3f, 0, 0);
    UpdateSkeleton(onGoal);
    SolveTowards(onGoal, kLegIk, onGoal.bones[kAnkle].jointPosition);
    EXPECT_EQ(onGoal.bones[kKnee].rotation, EulerToQuaternion(-0.3f, 0, 0));
    EXPECT_EQ(onGoal.bones[kThigh].rotation, Quaternion{});

    // A goal on the joint, a goal straight opposite the effector, and an
    // effector on the joint give no direction or no axis: no turn, no NaN.
    PmxModel handOnJoint = ArmModel(10, 1.0f);
    handOnJoint.bones[1].position = {0, 0, 0};
    for (const auto& [model, goal] : {std::pair{ArmModel(10, 1.0f), Vector4{-1, 0, 0}},
                                      {ArmModel(10, 1.0f), Vector4{-2, 0, 0}},
                                      {handOnJoint, Vector4{-1, 1, 0}}}) {
        ModelInstance instance = MakeInstance(model);
        SolveTowards(instance, 2, goal);
        EXPECT_EQ(instance.bones[0].rotation, Quaternion{});
    }
}

TEST(SolveIk, LimitAngleSpreadsTheTurnOverIterations) {
    for (const auto& [loops, expected] : {std::pair{1u, 0.1f}, {3u, 0.3f}, {50u, 0.5f}}) {
        ModelInstance instance = MakeInstance(ArmModel(loops, 0.1f));
        SolveTowards(instance, 2, {std::cos(0.5f) - 1, std::sin(0.5f), 0});
        ExpectSameRotation(instance.bones[0].rotation, AxisAngle(0, 0, 1, expected), 1e-6f);
    }
}

TEST(UpdateModelIk, LeavesEveryBoneCurrentAfterIk) {
    // Bones off the chain, a bone elsewhere that blends in the knee's turn,
    // and a toe chain that reads the toe after the leg has been solved.
    PmxModel model = LegModel();
    model.bones.push_back(MakeBone(u"toe", {0, -0.5f, -1.5f}, kAnkle, {0, 0, -0.5f}));
    model.bones.push_back(MakeBone(u"skirt", {1, 9, 0}, kThigh, {0, -2, 0}));
    model.bones.push_back(IkBone(MakeBone(u"toeIK", {0, -0.5f, -1.5f}, kLegIk, {0, 0, -0.5f}), 5, 3,
                                 4.0f, {Link(kAnkle)}));
    PmxBone follower = MakeBone(u"kneeFollower", {2, 5, 0}, 0, {0, -1, 0});
    follower.flags |= kPmxBoneAppendRotation;
    follower.appendParentIndex = kKnee;
    follower.appendRatio = 0.5f;
    model.bones.push_back(follower);
    ModelInstance instance = MakeInstance(model);
    // The toe goal is turned 0.3 rad about X around the ankle: reachable.
    instance.bones[7].translation = Add3(instance.bones[7].restOffset, {0, 0.4656f, -0.0808f});
    instance.bones[kLegIk].translation = Add3(instance.bones[kLegIk].restOffset, {0.5f, 3, 1});
    instance.playing = 1;
    UpdateModel(instance, 0.0f);
    EXPECT_LT(Distance(instance.bones[5].jointPosition, instance.bones[7].jointPosition), 1e-3f);

    std::vector<Matrix4> solved;
    for (const BoneState& bone : instance.bones) {
        solved.push_back(bone.worldMatrix);
    }
    UpdateSkeleton(instance);
    for (std::size_t i = 0; i < instance.bones.size(); ++i) {
        EXPECT_EQ(instance.bones[i].worldMatrix, solved[i]) << i;
    }
    EXPECT_NE(solved[8], TranslationMatrix(instance.bones[8].restTail));
}

TEST(UpdateModelIk, SolvesIkOnlyWhilePlayingAndKeepsSolvingAtTheEnd) {
    ModelInstance instance = MakeInstance(LegModel());
    VmdMotion motion;
    AddBoneKey(motion, u"legIK", 0, {0, 3, 1});
    AddBoneKey(motion, u"legIK", 2, {0, 3, 1});
    AttachMotion(instance, motion);
    RewindMotion(instance);
    const Vector4& ankle = instance.bones[kAnkle].jointPosition;
    const Vector4& goal = instance.bones[kLegIk].jointPosition;
    EXPECT_LT(Distance(ankle, goal), 1e-3f);

    instance.bones[kKnee].rotation = instance.bones[kThigh].rotation = {};
    UpdateModel(instance, 1.0f / 60);  // paused
    EXPECT_GT(Distance(ankle, goal), 1.0f);

    instance.playing = 1;
    for (int frame = 0; frame < 10; ++frame) {
        UpdateModel(instance, 1.0f / 60);
    }
    instance.bones[kLegIk].translation = {1, 2, 1, 0};
    UpdateModel(instance, 1.0f / 60);
    EXPECT_EQ(instance.motion.time, instance.motion.end);
    EXPECT_LT(Distance(ankle, goal), 1e-3f);
}

// Rigs where the effector is more than an end: it moves by an append, it
// carries the goal, it carries another chain's link. Solves that refresh only
// what they read must leave every bone as solves that refresh each in full.
TEST(UpdateModelIk, ShortcutRefreshesMatchFullOnesOnOddRigs) {
    std::vector<PmxModel> rigs(3, LegModel());
    rigs[0].bones[kAnkle].flags |= kPmxBoneAppendTranslation;
    rigs[0].bones[kAnkle].appendParentIndex = 0;
    rigs[0].bones[kAnkle].appendRatio = 0.5f;
    rigs[1].bones[kLegIk].parentIndex = kAnkle;
    rigs[2].bones.push_back(TailToBone(MakeBone(u"foot", {0, 0, 0}, kAnkle), 6));
    rigs[2].bones.push_back(MakeBone(u"tip", {0, 0, -1}, 5));
    rigs[2].bones.push_back(
        IkBone(MakeBone(u"tipIK", {0, 0.5f, -1}, -1), 6, 10, 1.0f, {Link(5), Link(kKnee)}));
    for (std::size_t r = 0; r < rigs.size(); ++r) {
        SCOPED_TRACE(r);
        ModelInstance shortcut = MakeInstance(rigs[r]);
        ModelInstance full = MakeInstance(rigs[r]);
        full.ikRefresh = IkRefresh::Everything;
        for (ModelInstance* instance : {&shortcut, &full}) {
            instance->playing = 1;
            instance->bones[0].translation = {0.5f, -1, 0.25f, 0};
            instance->bones[kLegIk].translation =
                Add3(instance->bones[kLegIk].restOffset, {0.5f, 3, 1});
            UpdateModel(*instance, 0.0f);
        }
        for (std::size_t i = 0; i < full.bones.size(); ++i) {
            EXPECT_EQ(shortcut.bones[i].worldMatrix, full.bones[i].worldMatrix) << i;
            EXPECT_EQ(shortcut.bones[i].jointPosition, full.bones[i].jointPosition) << i;
            EXPECT_EQ(shortcut.bones[i].worldRotation, full.bones[i].worldRotation) << i;
        }
        EXPECT_NE(full.bones[kKnee].rotation, Quaternion{});
    }
}

}  // namespace

// IK switch keys of a motion: off from a key until a key switches it on; the
// interface's switch, when off, holds whatever the motion says.
TEST(UpdateModelIk, MotionSwitchesChainsOffAndOnAtTheirKeys) {
    PmxModel model = LegModel();
    model.bones[kLegIk].name = u"右足ＩＫ";
    ModelInstance instance = MakeInstance(model);
    VmdMotion motion;
    AddBoneKey(motion, u"右足ＩＫ", 0, {0, 3, 1});
    AddBoneKey(motion, u"右足ＩＫ", 90, {0, 3, 1});
    motion.ikKeys = {{0, 1, {{u"右足ＩＫ", 1}}},
                     {30, 1, {{u"右足ＩＫ", 0}, {u"other", 0}}},
                     {60, 1, {{u"右足ＩＫ", 1}}}};
    AttachMotion(instance, motion);
    ASSERT_EQ(instance.motion.ikSwitchTracks.size(), 1u);
    BoneState& ik = instance.bones[kLegIk];
    const Vector4& ankle = instance.bones[kAnkle].jointPosition;
    instance.playing = 1;
    auto frameAt = [&](float seconds) {
        instance.motion.time = seconds - 1.0f / 60;
        instance.bones[kKnee].rotation = instance.bones[kThigh].rotation = {};
        UpdateModel(instance, 1.0f / 60);
        return Distance(ankle, ik.jointPosition);
    };
    EXPECT_LT(frameAt(0.5f), 1e-3f);
    EXPECT_GT(frameAt(1.05f), 1.0f);  // switched off at frame 30
    EXPECT_EQ(ik.ikMotionEnabled, 0);
    EXPECT_GT(frameAt(1.9f), 1.0f);    // stays off between keys
    EXPECT_LT(frameAt(2.05f), 1e-3f);  // on again at frame 60
    ik.ikEnabled = 0;                  // the user's "off" wins
    EXPECT_GT(frameAt(2.5f), 1.0f);
}

}  // namespace qv
