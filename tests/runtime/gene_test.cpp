// The runtime against a real model and its motions.

#include <algorithm>
#include <filesystem>
#include <limits>
#include <map>

#include "formats/text_decode.h"
#include "formats/vmd_names.h"
#include "tests/runtime/test_models.h"
#include "tests/support/content_path.h"

namespace qv {

namespace {

class Gene : public testing::Test {
protected:
    static void SetUpTestSuite() {
        model_ = new PmxModel;
        if (HasContent() &&
            Failed(LoadPmxModel(*model_, ContentDir() / "gene" / "Gene_light.pmx"))) {
            model_->bones.clear();
        }
    }
    static void TearDownTestSuite() { delete model_; }
    void SetUp() override {
        QV_REQUIRE_CONTENT();
        ASSERT_EQ(model_->bones.size(), 224u);
        instance_ = MakeInstance(*model_);
    }

    static PmxModel* model_;
    ModelInstance instance_;
};

PmxModel* Gene::model_ = nullptr;

bool Finite(const BoneState& b) {
    const Quaternion& q = b.rotation;
    const Vector4& t = b.translation;
    bool finite = std::isfinite(q.x + q.y + q.z + q.w + t.x + t.y + t.z);
    for (const auto& row : b.worldMatrix.m) {
        finite = finite && std::isfinite(row[0] + row[1] + row[2] + row[3]);
    }
    return finite;
}

// Legs (two-link chains) whose goal lies well inside their reach.
bool GoalReachable(const BoneState& ik) {
    if (ik.ikLinks.size() != 2 || ik.ikTarget == nullptr) {
        return false;
    }
    const Vector4& hip = ik.ikLinks[1].bone->jointPosition;
    const Vector4& knee = ik.ikLinks[0].bone->jointPosition;
    const float upper = Distance(hip, knee), lower = Distance(knee, ik.ikTarget->jointPosition);
    const float d = Distance(hip, ik.jointPosition), margin = 0.02f * (upper + lower);
    return d < upper + lower - margin && d > std::abs(upper - lower) + margin;
}

TEST_F(Gene, RestPoseHasIdentitySkinning) {
    UpdateModel(instance_, 1.0f / 60);
    for (const BoneState& bone : instance_.bones) {
        ExpectNear(SkinningMatrix(bone), Matrix4{});
        ExpectNear(bone.worldMatrix, TranslationMatrix(bone.restTail));
    }
}

// Every motion over its whole length: finite poses, legs on reachable goals,
// morph weights within their keys (0 before the first).
TEST_F(Gene, EveryMotionPlaysSoundly) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry :
         std::filesystem::directory_iterator(ContentDir() / "gene" / "motion")) {
        files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 21u);
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        VmdMotion motion;
        ASSERT_EQ(LoadVmdMotion(motion, file), S_OK);
        ModelInstance instance = MakeInstance(*model_);
        AttachMotion(instance, motion);
        struct Range {
            float first, low, high;
        };
        std::map<const float*, Range> ranges;
        for (const auto& [name, track] : instance.motion.morphTracks) {
            Range r{track.keys.front().time, std::numeric_limits<float>::max(),
                    std::numeric_limits<float>::lowest()};
            for (const CurveKey& key : track.keys) {
                r.low = std::min(r.low, key.value);
                r.high = std::max(r.high, key.value);
            }
            ranges[track.weight] = r;
        }
        RewindMotion(instance);
        instance.playing = 1;
        do {
            UpdateModel(instance, 1.0f / 60);
            for (const BoneState& bone : instance.bones) {
                ASSERT_TRUE(Finite(bone)) << ToUtf8(bone.name) << " " << instance.motion.time;
                if (bone.ikEnabled && GoalReachable(bone)) {
                    ASSERT_LT(Distance(bone.ikTarget->jointPosition, bone.jointPosition), 1e-3f);
                }
            }
            for (const auto& [weight, r] : ranges) {
                const bool started = instance.motion.time >= r.first;
                ASSERT_GE(*weight, started ? r.low : 0.0f);
                ASSERT_LE(*weight, started ? r.high : 0.0f);
            }
        } while (instance.motion.time < instance.motion.end);
    }
}

// The motions keep the legs straight, so bend them here: lower the body and
// move the feet about.
TEST_F(Gene, FootIkReachesGoalsWithinTheLeg) {
    auto center = std::find_if(instance_.bones.begin(), instance_.bones.end(),
                               [](const BoneState& b) { return b.name == u"センター"; });
    ASSERT_NE(center, instance_.bones.end());
    std::vector<BoneState*> legs;
    for (BoneState& bone : instance_.bones) {
        if (bone.ikEnabled && bone.ikLinks.size() == 2) {
            legs.push_back(&bone);
        }
    }
    ASSERT_EQ(legs.size(), 2u);
    instance_.playing = 1;
    for (const float drop : {0.5f, 1.5f, 3.0f}) {
        for (const Vector4 foot :
             {Vector4{0, 0, 0}, {0, 1, -1.5f}, {0.5f, 0.5f, 1}, {-0.3f, 2, -0.5f}}) {
            center->translation = Add3(center->restOffset, {0, -drop, 0});
            for (BoneState* leg : legs) {
                leg->translation = Add3(leg->restOffset, foot);
            }
            // From a straight knee (the chain's singular pose) the first solve
            // may stop a little short; playback settles by the next frame.
            UpdateModel(instance_, 1.0f / 60);
            UpdateModel(instance_, 1.0f / 60);
            std::vector<Matrix4> posed;  // a full update then finds nothing to change
            for (const BoneState& bone : instance_.bones) {
                posed.push_back(bone.worldMatrix);
            }
            UpdateSkeleton(instance_);
            for (std::size_t i = 0; i < posed.size(); ++i) {
                ASSERT_EQ(instance_.bones[i].worldMatrix, posed[i]) << i;
            }
            for (BoneState* leg : legs) {
                ASSERT_TRUE(GoalReachable(*leg));
                EXPECT_LT(Distance(leg->ikTarget->jointPosition, leg->jointPosition), 1e-3f)
                    << ToUtf8(leg->name) << " drop " << drop << " foot " << foot.y;
            }
        }
    }
}

// What a frame leaves in a bone, bit for bit (up to the sign of zero).
void ExpectSameBone(const BoneState& a, const BoneState& b, float time) {
    const auto where = [&] { return ToUtf8(a.name) + " at " + std::to_string(time); };
    ASSERT_EQ(a.rotation, b.rotation) << where();
    ASSERT_EQ(a.worldMatrix, b.worldMatrix) << where();
    ASSERT_EQ(a.localMatrix, b.localMatrix) << where();
    ASSERT_EQ(a.worldRotation, b.worldRotation) << where();
    ASSERT_EQ(a.appendedRotation, b.appendedRotation) << where();
    ASSERT_EQ(a.jointPosition, b.jointPosition) << where();
    ASSERT_EQ(a.framePosition, b.framePosition) << where();
    ASSERT_EQ(a.currentAxisX, b.currentAxisX) << where();
    ASSERT_EQ(a.currentAxisZ, b.currentAxisZ) << where();
    ASSERT_EQ(a.appendedTranslation, b.appendedTranslation) << where();
}

// The solves refresh only what their next turns read; played through real
// motions, with goals that move and goals that stand (the clock held at the
// end), and with bones posed by hand between frames, every bone ends exactly
// as when they refresh each bone in full.
TEST_F(Gene, SolvesThatRefreshLessLeaveTheSamePose) {
    BoneState* center = nullptr;
    std::vector<BoneState*> knees;
    for (BoneState& bone : instance_.bones) {
        center = bone.name == u"センター" ? &bone : center;
        if (bone.ikEnabled && bone.ikLinks.size() == 2) {
            knees.push_back(bone.ikLinks[0].bone);
        }
    }
    ASSERT_NE(center, nullptr);
    ASSERT_EQ(knees.size(), 2u);
    for (const char* file : {"10_impressed.vmd", "stand.vmd"}) {
        SCOPED_TRACE(file);
        VmdMotion motion;
        ASSERT_EQ(LoadVmdMotion(motion, ContentDir() / "gene" / "motion" / file), S_OK);
        ModelInstance shortcut = MakeInstance(*model_);
        ModelInstance plain = MakeInstance(*model_);
        plain.ikRefresh = IkRefresh::Everything;
        ModelInstance* both[2] = {&shortcut, &plain};
        for (ModelInstance* instance : both) {
            AttachMotion(*instance, motion);
            RewindMotion(*instance);
            instance->playing = 1;
        }
        const int frames = static_cast<int>(plain.motion.end * 60.0f) + 30;
        for (int frame = 0; frame < frames; ++frame) {
            if (frame % 40 == 20) {
                // By hand, as the model setting window would: the body
                // lowered, which moves both chains, and a knee turned.
                for (ModelInstance* instance : both) {
                    BoneState& c = instance->bones[center->index];
                    c.translation = Add3(c.translation, {0.0f, -0.05f * (frame % 7), 0.0f});
                    BoneState& knee = instance->bones[knees[frame % 2]->index];
                    knee.rotation = Multiply(knee.rotation, AxisAngle(1, 0, 0, 0.3f));
                }
            }
            UpdateModel(shortcut, 1.0f / 60);
            UpdateModel(plain, 1.0f / 60);
            for (std::size_t i = 0; i < plain.bones.size(); ++i) {
                ExpectSameBone(shortcut.bones[i], plain.bones[i], plain.motion.time);
                if (HasFatalFailure()) {
                    return;
                }
            }
        }
    }
}

// Motions name morphs in 15 bytes; Gene's longer names (browOuterUpRight and
// the like) are driven by the first 15 bytes of their Shift-JIS form.
TEST_F(Gene, MotionsDriveMorphsWhoseNamesRunPastTheField) {
    VmdNameCodec codec;
    std::size_t longNamesDriven = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(ContentDir() / "gene" / "motion")) {
        VmdMotion motion;
        ASSERT_EQ(LoadVmdMotion(motion, entry.path()), S_OK);
        ModelInstance instance = MakeInstance(*model_);
        AttachMotion(instance, motion);
        for (const auto& [name, weight] : instance.morphWeightByName) {
            if (codec.Encode(name).size() <= kVmdKeyNameBytes) {
                continue;
            }
            const auto track =
                instance.motion.morphTracks.find(codec.ModelNameKey(name, kVmdKeyNameBytes));
            if (track != instance.motion.morphTracks.end()) {
                const auto& same = track->second.sameNamed;
                EXPECT_TRUE(track->second.weight == weight ||
                            std::find(same.begin(), same.end(), weight) != same.end())
                    << ToUtf8(name);
                ++longNamesDriven;
            }
        }
        // Every morph name of the motion that the model has in file terms is driven.
        for (const auto& [key, keys] : motion.morphKeys) {
            bool known = false;
            for (const auto& [name, weight] : instance.morphWeightByName) {
                known = known || codec.ModelNameKey(name, kVmdKeyNameBytes) == key;
            }
            EXPECT_EQ(instance.motion.morphTracks.count(key), known ? 1u : 0u);
        }
    }
    std::printf("tracks of morphs with names past 15 bytes: %zu\n", longNamesDriven);
    EXPECT_GT(longNamesDriven, 0u);
}

}  // namespace

}  // namespace qv
