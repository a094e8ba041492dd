// The file report must keep the fields scripts use and warn about every bad value.
#include "tools/inspect_report.h"

#include <gtest/gtest.h>

#include <cmath>

#include "demo/pmd_writer.h"
#include "formats/pmd_model.h"
#include "tests/support/content_writers.h"
#include "tests/support/x_writer.h"
#include "tools/x_report.h"

namespace qv {

TEST(InspectReport, JsonHasEveryFieldUsersScriptAgainst) {
    const PmxModel m = SamplePmxModel();
    const auto j = PmxReportJson("m.pmx", m);
    for (const char* key :
         {"file", "format", "version", "encoding", "additional_uv", "index_sizes", "name",
          "name_english", "vertices", "indices", "textures", "materials", "bones", "ik_bones",
          "morphs", "morph_types", "display_frames", "rigid_bodies", "joints"}) {
        EXPECT_TRUE(j.contains(key)) << key;
    }
    EXPECT_EQ(j["format"], "PMX");
    EXPECT_EQ(j["name"], "テストモデル");
    EXPECT_EQ(j["ik_bones"], 1);
    EXPECT_EQ(j["index_sizes"]["rigid_body"], 1);
    ASSERT_EQ(j["morph_types"].size(), 11u);
    EXPECT_EQ(j["morph_types"]["8"], 1);

    VmdMotion motion;
    motion.boneKeys[u"a"].resize(3);
    motion.boneKeys[u"b"].resize(1);
    const auto v = VmdReportJson("d.vmd", motion);
    EXPECT_EQ(v["bone_keys"], 4);
    EXPECT_EQ(v["bone_names"], 2);
    EXPECT_EQ(v["morph_keys"], 0);

    const auto f = FailureJson("x.pmx", "Failed to load PMX model!", E_FAIL);
    EXPECT_EQ(f.dump(),
              R"({"file":"x.pmx","error":"Failed to load PMX model!","result":"0x80004005"})");
}

TEST(InspectReport, AModelOfTheOlderFormatSaysSo) {
    PmxModel m;
    ASSERT_EQ(ParsePmdModel(m, EncodePmd(PmdFileOf(SamplePmxModel()))), S_OK);
    const auto j = PmxReportJson("m.pmd", m);
    EXPECT_EQ(j["format"], "PMD");
    EXPECT_EQ(j["encoding"], "CP932");
    EXPECT_EQ(j["name"], "テストモデル");
    EXPECT_NE(PmxReportText("m.pmd", m).find("format      PMD 1.0, CP932 texts"), std::string::npos)
        << PmxReportText("m.pmd", m);
}

TEST(InspectReport, WarnsAboutEveryIndexOutsideItsList) {
    EXPECT_TRUE(PmxIndexWarnings(SamplePmxModel()).empty());

    PmxModel m = SamplePmxModel();
    m.indices.push_back(99);
    m.vertices[0].weight.boneIndex[0] = 50;
    m.materials[0].textureIndex = 9;
    m.bones[1].parentIndex = 7;
    m.bones[2].ikLinks[0].boneIndex = 12;
    m.morphs[1].vertexOffsets[0].vertexIndex = 1000;
    m.rigidBodies[0].boneIndex = 3;
    m.joints[0].rigidBodyB = 2;
    const auto warnings = PmxIndexWarnings(m);
    const std::string all = [&] {
        std::string s;
        for (const auto& w : warnings)
            s += w + "\n";
        return s;
    }();
    EXPECT_EQ(warnings.size(), 8u) << all;
    for (const char* needle : {"face indices", "vertex 0: bone 50", "texture 9", "parent 7",
                               "IK link 12", "morph 1", "rigid body 0", "joint 0"}) {
        EXPECT_NE(all.find(needle), std::string::npos) << needle << " missing from\n" << all;
    }
    // A flood of the same fault is summarised instead of drowning the output.
    for (PmxVertex& v : m.vertices)
        v.weight.boneIndex[0] = 500;
    m.vertices.resize(100, m.vertices[0]);
    EXPECT_LE(PmxIndexWarnings(m).size(), 21u);
}

TEST(InspectReport, WarnsAboutEveryNumberThatWasNotFinite) {
    PmxModel m = SamplePmxModel();
    m.bones[0].tailOffset = {std::nanf(""), 0, 0};
    m.bones[0].flags &= ~std::uint32_t{kPmxBoneTailIsBone};
    m.rigidBodies[0].mass = INFINITY;
    PmxModel read;
    ASSERT_EQ(ParsePmxModel(read, EncodePmx(m)), S_OK);
    const std::string text = PmxReportText("m.pmx", read);
    EXPECT_NE(text.find("warning: bone 0 tail offset: not a finite number"), std::string::npos)
        << text;
    EXPECT_NE(text.find("warning: rigid body 0 mass: not a finite number"), std::string::npos);
    EXPECT_EQ(PmxReportJson("m.pmx", read)["non_finite_numbers"], 2);

    // Past the listed ones, a count.
    NonFiniteFields many;
    for (int i = 0; i < 150; ++i) {
        many.Note("vertex " + std::to_string(i) + " position");
    }
    const auto lines = NonFiniteWarnings(many);
    ASSERT_EQ(lines.size(), NonFiniteFields::kMaxListed + 1);
    EXPECT_EQ(lines.back(), "... and 50 more numbers that are not finite");
}

}  // namespace qv

namespace qv {

TEST(InspectReport, AnAccessoryListsItsFramesMeshesAndEachTextureOnce) {
    const std::string text = XSphereMapped();
    XModel model;
    ASSERT_TRUE(
        ParseXModel(model, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}).ok());
    const auto j = XReportJson("ball.x", model);
    EXPECT_EQ(j["format"], "X");
    EXPECT_EQ(j["version"], "3.3");
    ASSERT_EQ(j["frames"].size(), 1u);
    EXPECT_EQ(j["frames"][0]["name"], "Ball");
    ASSERT_EQ(j["meshes"].size(), 1u);
    EXPECT_EQ(j["meshes"][0]["triangles"], 8);
    EXPECT_EQ(j["meshes"][0]["materials"][1]["sphere_mode"], "add");
    EXPECT_EQ(j["textures"], nlohmann::json({"base.png", "env.sph", "glow.spa"}));
    const std::string report = XReportText("ball.x", model);
    EXPECT_NE(report.find("Ball: 6 positions, 8 triangles"), std::string::npos) << report;
    EXPECT_NE(report.find("sphere env.sph (multiply)"), std::string::npos) << report;
}

}  // namespace qv
