// The demo must actually dance: feet on their goals, mouth moving, hair hanging.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "demo/demo_content.h"
#include "formats/vmd_motion.h"
#include "runtime/model_instance.h"
#include "runtime/physics_bodies.h"
#include "runtime/physics_world.h"

namespace qv {

namespace {

PmxModel ParsedModel() {
    PmxModel model;
    EXPECT_EQ(ParsePmxModel(model, EncodePmx(DemoModel())), S_OK);
    return model;
}

VmdMotion ParsedMotion() {
    VmdMotion motion;
    EXPECT_EQ(ParseVmdMotion(motion, EncodeVmd(DemoMotion())), S_OK);
    return motion;
}

const BoneState& Bone(const ModelInstance& instance, const std::u16string& name) {
    for (const BoneState& bone : instance.bones) {
        if (bone.name == name) {
            return bone;
        }
    }
    ADD_FAILURE() << "no such bone";
    return instance.bones.front();
}

float Distance(const Vector4& a, const Vector4& b) {
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) +
                     (a.z - b.z) * (a.z - b.z));
}

bool Finite(const Vector4& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// The demo model in a physics world of its own, played at 60 frames a second.
struct DemoScene {
    PmxModel model;
    PhysicsWorld world;
    ModelInstance instance;

    DemoScene() : model(ParsedModel()) {
        EXPECT_EQ(CreateModelInstance(instance, model, &world), S_OK);
    }
    ~DemoScene() { ReleaseBodies(instance, world); }

    template <typename EachFrame>
    void Run(float seconds, EachFrame each) {
        for (int i = 0; i < static_cast<int>(seconds * 60.0f); ++i) {
            StepPhysics(world, 1.0f / 60.0f);
            UpdateModel(instance, 1.0f / 60.0f);
            each();
        }
    }
};

TEST(DemoMotion, NamesOnlyWhatTheModelHasAndEndsAtRest) {
    const PmxModel model = ParsedModel();
    const VmdMotion motion = ParsedMotion();
    std::set<std::u16string> bones, morphs;
    for (const PmxBone& bone : model.bones) {
        bones.insert(bone.name);
    }
    for (const PmxMorph& morph : model.morphs) {
        morphs.insert(morph.name);
    }
    for (const auto& [name, keys] : motion.boneKeys) {
        EXPECT_TRUE(bones.contains(name)) << "a key for a bone the model lacks";
        // First and last keys at rest, so that it can start over seamlessly.
        const auto [first, last] = std::minmax_element(
            keys.begin(), keys.end(), [](auto& a, auto& b) { return a.frame < b.frame; });
        EXPECT_EQ(first->frame, 0u);
        EXPECT_EQ(last->frame, kDemoBeats * kDemoMotionFps / 2);
        EXPECT_EQ(last->rotation, (Float4{0, 0, 0, 1}));
        EXPECT_EQ(last->position, Float3{});
    }
    for (const auto& [name, keys] : motion.morphKeys) {
        EXPECT_TRUE(morphs.contains(name)) << "a key for a morph the model lacks";
    }
    EXPECT_TRUE(motion.boneKeys.contains(u"センター"));
    EXPECT_TRUE(motion.boneKeys.contains(u"左足ＩＫ"));
    EXPECT_TRUE(motion.boneKeys.contains(u"右腕"));
    EXPECT_TRUE(motion.morphKeys.contains(u"あ"));
}

TEST(DemoPlayback, DancesWithFeetOnTheirGoalsAndTheMouthMoving) {
    DemoScene scene;
    AttachMotion(scene.instance, ParsedMotion());
    EXPECT_FLOAT_EQ(scene.instance.motion.end, static_cast<float>(kDemoBeats) * 0.5f);
    scene.instance.playing = 1;
    const float* mouth = scene.instance.morphWeightByName.at(u"あ");
    const float restHips = Bone(scene.instance, u"センター").jointPosition.y;
    float widestMouth = 0.0f, deepestDip = 0.0f, highestFoot = 0.0f;
    std::size_t frames = 0;
    scene.Run(8.0f, [&] {
        ++frames;
        for (const BoneState& bone : scene.instance.bones) {
            ASSERT_TRUE(Finite(bone.jointPosition)) << frames;
        }
        for (const std::u16string side : {u"左", u"右"}) {
            const BoneState& ik = Bone(scene.instance, side + u"足ＩＫ");
            const BoneState& ankle = Bone(scene.instance, side + u"足首");
            EXPECT_LT(Distance(ankle.jointPosition, ik.jointPosition), 0.05f) << "frame " << frames;
            // The foot keeps its pitch: the toe stays on its own goal.
            EXPECT_LT(Distance(Bone(scene.instance, side + u"つま先").jointPosition,
                               Bone(scene.instance, side + u"つま先ＩＫ").jointPosition),
                      0.05f)
                << "frame " << frames;
            highestFoot = std::max(highestFoot, ankle.jointPosition.y);
        }
        deepestDip =
            std::min(deepestDip, Bone(scene.instance, u"センター").jointPosition.y - restHips);
        widestMouth = std::max(widestMouth, *mouth);
    });
    EXPECT_LT(deepestDip, -0.5f);
    EXPECT_GT(highestFoot, 2.0f);  // a kick lifts a foot
    EXPECT_GT(widestMouth, 0.5f);
    // Knees bend backwards only.
    for (const std::u16string side : {u"左", u"右"}) {
        const BoneState& knee = Bone(scene.instance, side + u"ひざ");
        const BoneState& ankle = Bone(scene.instance, side + u"足首");
        EXPECT_GE(ankle.jointPosition.z, knee.jointPosition.z - 0.2f);
    }
}

TEST(DemoPlayback, HairSwingsDownUnderGravityAndStaysOnTheHead) {
    DemoScene scene;
    const BoneState& head = Bone(scene.instance, u"頭");
    const BoneState& root = Bone(scene.instance, u"髪1");
    const BoneState& tip = Bone(scene.instance, u"髪3");
    const Vector4 restRoot = root.jointPosition, restTip = tip.jointPosition;
    const float rootToHead = Distance(restRoot, head.jointPosition);
    scene.Run(3.0f, [&] { ASSERT_TRUE(Finite(tip.jointPosition)); });
    // Authored pointing back and down, the hair falls towards the vertical.
    EXPECT_LT(tip.jointPosition.y, restTip.y - 0.3f);
    EXPECT_LT(tip.jointPosition.z, restTip.z - 0.3f);
    EXPECT_NEAR(Distance(root.jointPosition, head.jointPosition), rootToHead, 0.1f);
    // Still behind the back, held by the joints' limits.
    EXPECT_GT(tip.jointPosition.z, 1.2f);

    // Dancing, it follows the head and never tears away.
    AttachMotion(scene.instance, ParsedMotion());
    scene.instance.playing = 1;
    scene.Run(6.0f, [&] {
        ASSERT_TRUE(Finite(tip.jointPosition));
        EXPECT_NEAR(Distance(root.jointPosition, head.jointPosition), rootToHead, 0.25f);
        EXPECT_LT(Distance(tip.jointPosition, root.jointPosition),
                  Distance(restTip, restRoot) + 0.25f);
    });
}

}  // namespace

}  // namespace qv
