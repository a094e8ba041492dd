// Numbers that are not finite never reach a model or motion record.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "formats/pmx_model.h"
#include "formats/vmd_motion.h"
#include "tests/support/content_writers.h"

namespace qv {

namespace {

constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

template <typename V>
void Each(V& v, auto&& f) {
    float* c = &v.x;
    for (std::size_t i = 0; i < sizeof(V) / sizeof(float); ++i) {
        f(c[i]);
    }
}

// Every number a PMX file stores, by reference.
void ForEachNumber(PmxModel& m, auto&& f) {
    for (PmxVertex& v : m.vertices) {
        Each(v.position, f), Each(v.normal, f), Each(v.uv, f);
        for (Float4& uv : v.additionalUv) {
            Each(uv, f);
        }
        for (float& w : v.weight.weight) {
            f(w);
        }
        Each(v.weight.sdefC, f), Each(v.weight.sdefR0, f), Each(v.weight.sdefR1, f);
        f(v.edgeScale);
    }
    for (PmxMaterial& mat : m.materials) {
        Each(mat.diffuse, f), Each(mat.specular, f), f(mat.specularPower);
        Each(mat.ambient, f), Each(mat.edgeColor, f), f(mat.edgeSize);
    }
    for (PmxBone& b : m.bones) {
        Each(b.position, f), Each(b.tailOffset, f), f(b.appendRatio), Each(b.fixedAxis, f);
        Each(b.localAxisX, f), Each(b.localAxisZ, f), f(b.ikLimitAngle);
        for (PmxIkLink& link : b.ikLinks) {
            Each(link.lowerLimit, f), Each(link.upperLimit, f);
        }
    }
    for (PmxMorph& mo : m.morphs) {
        for (auto& o : mo.groupOffsets)
            f(o.weight);
        for (auto& o : mo.vertexOffsets)
            Each(o.offset, f);
        for (auto& o : mo.boneOffsets)
            Each(o.translation, f), Each(o.rotation, f);
        for (auto& o : mo.uvOffsets)
            Each(o.offset, f);
        for (auto& o : mo.materialOffsets) {
            Each(o.diffuse, f), Each(o.specular, f), f(o.specularPower), Each(o.ambient, f);
            Each(o.edgeColor, f), f(o.edgeSize), Each(o.textureTint, f), Each(o.sphereTint, f);
            Each(o.toonTint, f);
        }
        for (auto& o : mo.impulseOffsets)
            Each(o.velocity, f), Each(o.torque, f);
    }
    for (PmxRigidBody& r : m.rigidBodies) {
        Each(r.size, f), Each(r.position, f), Each(r.rotation, f), f(r.mass);
        f(r.linearDamping), f(r.angularDamping), f(r.restitution), f(r.friction);
    }
    for (PmxJoint& j : m.joints) {
        Each(j.position, f), Each(j.rotation, f), Each(j.translationLower, f);
        Each(j.translationUpper, f), Each(j.rotationLower, f), Each(j.rotationUpper, f);
        Each(j.springTranslation, f), Each(j.springRotation, f);
    }
}

}  // namespace

TEST(NonFinite, PmxFieldsOfEveryKindReadAsTheirNeutralValue) {
    for (const float bad : {kNan, kInf, -kInf}) {
        SCOPED_TRACE(bad);
        PmxModel source = SamplePmxModel();
        int poisoned = 0;
        ForEachNumber(source, [&](float& v) { v = bad, ++poisoned; });
        PmxModel read;
        ASSERT_EQ(ParsePmxModel(read, EncodePmx(source)), S_OK);
        int finite = 0, total = 0;
        ForEachNumber(read, [&](float& v) { finite += std::isfinite(v) ? 1 : 0, ++total; });
        EXPECT_EQ(finite, total);
        EXPECT_GT(read.nonFinite.count, 100u);
        EXPECT_EQ(read.nonFinite.fields.size(),
                  std::min<std::size_t>(read.nonFinite.count, NonFiniteFields::kMaxListed));
        // The records survive with neutral values, and the file's structure
        // around them is intact.
        ASSERT_EQ(read.bones.size(), source.bones.size());
        EXPECT_EQ(read.bones[0].position, (Float3{}));
        EXPECT_EQ(read.bones[0].name, source.bones[0].name);
        ASSERT_EQ(read.joints.size(), source.joints.size());
        for (const PmxMorph& morph : read.morphs) {
            for (const auto& o : morph.boneOffsets) {
                EXPECT_EQ(o.rotation, (Float4{0, 0, 0, 1}));
            }
            for (const auto& o : morph.materialOffsets) {
                const float neutral = o.operation == 0 ? 1.0f : 0.0f;
                EXPECT_EQ(o.diffuse, (Float4{neutral, neutral, neutral, neutral}));
                EXPECT_EQ(o.edgeSize, neutral);
            }
        }
        for (const PmxVertex& v : read.vertices) {
            if (v.weight.deformType == kPmxDeformBdef2) {
                EXPECT_EQ(v.weight.weight[1], 1.0f);
            }
        }
    }
}

// One number at a time, so a check that reads only some components of a vector
// or quaternion lets the others through and is seen.
TEST(NonFinite, EachPmxNumberAloneIsFoundAndReplaced) {
    int numbers = 0;
    PmxModel sample = SamplePmxModel();
    ForEachNumber(sample, [&](float&) { ++numbers; });
    const std::vector<std::uint8_t> clean = EncodePmx(sample);
    int stored = 0;
    for (int poisoned = 0; poisoned < numbers; ++poisoned) {
        PmxModel source = SamplePmxModel();
        int at = 0;
        ForEachNumber(source, [&](float& v) { v = at++ == poisoned ? kNan : v; });
        const std::vector<std::uint8_t> bytes = EncodePmx(source);
        // Some numbers have no place in the file for their record (a BDEF1
        // vertex's SDEF vectors): nothing to find there.
        const bool inFile = bytes != clean;
        stored += inFile ? 1 : 0;
        PmxModel read;
        ASSERT_EQ(ParsePmxModel(read, bytes), S_OK);
        int finite = 0, total = 0;
        ForEachNumber(read, [&](float& v) { finite += std::isfinite(v) ? 1 : 0, ++total; });
        ASSERT_EQ(finite, total) << "number " << poisoned;
        ASSERT_EQ(read.nonFinite.count, inFile ? 1u : 0u) << "number " << poisoned;
    }
    EXPECT_GT(stored, numbers / 2);
}

TEST(NonFinite, PmxNotesNameTheRecordAndField) {
    PmxModel source = SamplePmxModel();
    source.bones[1].tailOffset = {kNan, 0, 0};
    source.bones[1].flags &= ~std::uint32_t{kPmxBoneTailIsBone};
    source.rigidBodies[0].mass = kInf;
    PmxModel read;
    ASSERT_EQ(ParsePmxModel(read, EncodePmx(source)), S_OK);
    EXPECT_EQ(read.nonFinite.count, 2u);
    EXPECT_EQ(read.nonFinite.fields,
              (std::vector<std::string>{"bone 1 tail offset", "rigid body 0 mass"}));
    PmxModel clean;
    ASSERT_EQ(ParsePmxModel(clean, EncodePmx(SamplePmxModel())), S_OK);
    EXPECT_EQ(clean.nonFinite.count, 0u);
}

TEST(NonFinite, VmdKeysOfEveryKindReadAsTheirNeutralValue) {
    VmdFile f;
    f.bones = {{"a", 0, {kNan, 1, 2}, {kInf, 0, 0, 1}}, {"a", 5, {1, 2, 3}, {0, 0, 0, 1}}};
    f.morphs = {{"m", 0, -kInf}};
    VmdCameraKey cam;
    cam.distance = kNan;
    cam.position = {kInf, 0, 0};
    cam.rotation = {0, kNan, 0};
    f.cameras = {cam};
    f.lights = {{0, {kNan, 0.5f, 0.5f, 0}, {0, -kInf, 0}}};
    f.shadows = {{0, 1, kNan}};
    VmdMotion m;
    ASSERT_EQ(ParseVmdMotion(m, EncodeVmd(f)), S_OK);
    const VmdBoneKey& k = m.boneKeys.at(u"a").at(0);
    EXPECT_EQ(k.position, (Float3{0, 1, 2}));
    EXPECT_EQ(k.rotation, (Float4{0, 0, 0, 1}));
    EXPECT_EQ(m.boneKeys.at(u"a").at(1).position, (Float3{1, 2, 3}));
    EXPECT_EQ(m.morphKeys.at(u"m").at(0).weight, 0.0f);
    EXPECT_EQ(m.cameraKeys.at(0).distance, 0.0f);
    EXPECT_EQ(m.cameraKeys.at(0).position, (Float3{}));
    EXPECT_EQ(m.cameraKeys.at(0).rotation, (Float3{}));
    EXPECT_EQ(m.lightKeys.at(0).color, (Float4{0, 0.5f, 0.5f, 1}));
    EXPECT_EQ(m.lightKeys.at(0).direction, (Float3{}));
    EXPECT_EQ(m.shadowKeys.at(0).distance, 0.0f);
    EXPECT_EQ(m.nonFinite.count, 9u);

    // Any one component: a position keeps its finite ones, a rotation is none at all.
    for (int c = 0; c < 4; ++c) {
        VmdFile one;
        Float3 position{1, 2, 3};
        Float4 rotation{0.1f, 0.2f, 0.3f, 0.9f};
        (&rotation.x)[c] = c % 2 == 0 ? kInf : kNan;
        if (c < 3) {
            (&position.x)[c] = -kInf;
        }
        one.bones = {{"b", 0, position, rotation}};
        VmdMotion read;
        ASSERT_EQ(ParseVmdMotion(read, EncodeVmd(one)), S_OK);
        const VmdBoneKey& key = read.boneKeys.at(u"b").at(0);
        Float3 expected{1, 2, 3};
        if (c < 3) {
            (&expected.x)[c] = 0;
        }
        EXPECT_EQ(key.position, expected) << c;
        EXPECT_EQ(key.rotation, (Float4{0, 0, 0, 1})) << c;
    }
    ASSERT_FALSE(m.nonFinite.fields.empty());
    EXPECT_EQ(m.nonFinite.fields[0], "key of a at frame 0 position");
}

}  // namespace qv
