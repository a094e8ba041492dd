// Small VMD files next to their content as an independent converter decoded it.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "formats/text_decode.h"
#include "formats/vmd_motion.h"
#include "tests/support/content_path.h"

namespace qv {

namespace {

using nlohmann::json;

const json* Child(const json& node, const std::string& tag) {
    if (!node.contains("children"))
        return nullptr;
    for (const json& c : node["children"]) {
        if (c.value("tag", "") == tag)
            return &c;
    }
    return nullptr;
}

std::vector<const json*> Children(const json* node, const std::string& tag) {
    std::vector<const json*> out;
    if (node == nullptr || !node->contains("children"))
        return out;
    for (const json& c : (*node)["children"]) {
        if (c.value("tag", "") == tag)
            out.push_back(&c);
    }
    return out;
}

float Attr(const json* node, const std::string& name, float fallback = 0.0f) {
    if (node == nullptr || !node->contains("attrs") || !(*node)["attrs"].contains(name)) {
        return fallback;
    }
    return std::stof((*node)["attrs"][name].get<std::string>());
}

std::string Text(const json& node, const std::string& name) {
    return node["attrs"][name].get<std::string>();
}

void CheckFixture(const std::filesystem::path& vmdPath) {
    SCOPED_TRACE(vmdPath.string());
    std::filesystem::path jsonPath = vmdPath;
    jsonPath.replace_extension(".expected.json");
    std::ifstream in(jsonPath);
    ASSERT_TRUE(in) << jsonPath;
    const json content = json::parse(in)["content"];

    VmdMotion m;
    ASSERT_EQ(LoadVmdMotion(m, vmdPath), S_OK);

    if (const json* model = Child(content, "modelName")) {
        EXPECT_EQ(ToUtf8(m.modelName), Text(*model, "name"));
    }

    const auto boneParts = Children(Child(content, "boneMotionSequence"), "bonePart");
    ASSERT_EQ(m.boneKeys.size(), boneParts.size());
    for (const json* part : boneParts) {
        const std::u16string name = ToUtf16(Text(*part, "name"));
        ASSERT_EQ(m.boneKeys.count(name), 1u) << Text(*part, "name");
        const auto& keys = m.boneKeys.at(name);
        const auto expected = Children(part, "boneMotion");
        ASSERT_EQ(keys.size(), expected.size());
        for (std::size_t i = 0; i < keys.size(); ++i) {
            EXPECT_EQ(keys[i].frame, Attr(expected[i], "frame"));
            const json* pos = Child(*expected[i], "bonePosition");
            EXPECT_FLOAT_EQ(keys[i].position.x, Attr(pos, "xPos"));
            EXPECT_FLOAT_EQ(keys[i].position.y, Attr(pos, "yPos"));
            EXPECT_FLOAT_EQ(keys[i].position.z, Attr(pos, "zPos"));
            const json* rot = Child(*expected[i], "boneRotQuat");
            EXPECT_FLOAT_EQ(keys[i].rotation.x, Attr(rot, "qx"));
            EXPECT_FLOAT_EQ(keys[i].rotation.y, Attr(rot, "qy"));
            EXPECT_FLOAT_EQ(keys[i].rotation.z, Attr(rot, "qz"));
            EXPECT_FLOAT_EQ(keys[i].rotation.w, Attr(rot, "qw", 1.0f));
        }
    }

    const auto morphParts = Children(Child(content, "morphSequence"), "morphPart");
    ASSERT_EQ(m.morphKeys.size(), morphParts.size());
    for (const json* part : morphParts) {
        const std::u16string name = ToUtf16(Text(*part, "name"));
        ASSERT_EQ(m.morphKeys.count(name), 1u) << Text(*part, "name");
        const auto& keys = m.morphKeys.at(name);
        const auto expected = Children(part, "morphMotion");
        ASSERT_EQ(keys.size(), expected.size());
        for (std::size_t i = 0; i < keys.size(); ++i) {
            EXPECT_EQ(keys[i].frame, Attr(expected[i], "frame"));
            EXPECT_FLOAT_EQ(keys[i].weight, Attr(expected[i], "flex"));
        }
    }

    const auto cameras = Children(Child(content, "cameraSequence"), "cameraMotion");
    ASSERT_EQ(m.cameraKeys.size(), cameras.size());
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        const VmdCameraKey& k = m.cameraKeys[i];
        EXPECT_EQ(k.frame, Attr(cameras[i], "frame"));
        const json* target = Child(*cameras[i], "cameraTarget");
        EXPECT_FLOAT_EQ(k.position.x, Attr(target, "xPos"));
        EXPECT_FLOAT_EQ(k.position.y, Attr(target, "yPos"));
        EXPECT_FLOAT_EQ(k.position.z, Attr(target, "zPos"));
        const json* rotation = Child(*cameras[i], "cameraRotation");
        EXPECT_FLOAT_EQ(k.rotation.x, Attr(rotation, "xRad"));
        EXPECT_FLOAT_EQ(k.rotation.y, Attr(rotation, "yRad"));
        EXPECT_FLOAT_EQ(k.rotation.z, Attr(rotation, "zRad"));
        EXPECT_FLOAT_EQ(k.distance, Attr(Child(*cameras[i], "cameraRange"), "range"));
        EXPECT_EQ(k.viewAngle, Attr(Child(*cameras[i], "projection"), "vertDeg"));
    }

    const auto lights = Children(Child(content, "luminousSequence"), "luminousAct");
    ASSERT_EQ(m.lightKeys.size(), lights.size());
    for (std::size_t i = 0; i < lights.size(); ++i) {
        const VmdLightKey& k = m.lightKeys[i];
        EXPECT_EQ(k.frame, Attr(lights[i], "frame"));
        const json* color = Child(*lights[i], "lumiColor");
        EXPECT_NEAR(k.color.x, Attr(color, "rCol"), 5e-4f);
        EXPECT_NEAR(k.color.y, Attr(color, "gCol"), 5e-4f);
        EXPECT_NEAR(k.color.z, Attr(color, "bCol"), 5e-4f);
        EXPECT_EQ(k.color.w, 1.0f);
        const json* dir = Child(*lights[i], "lumiDirection");
        EXPECT_FLOAT_EQ(k.direction.x, Attr(dir, "xVec"));
        EXPECT_FLOAT_EQ(k.direction.y, Attr(dir, "yVec"));
        EXPECT_FLOAT_EQ(k.direction.z, Attr(dir, "zVec"));
    }

    const auto shadows = Children(Child(content, "shadowSequence"), "shadowAct");
    ASSERT_EQ(m.shadowKeys.size(), shadows.size());
    for (std::size_t i = 0; i < shadows.size(); ++i) {
        const VmdShadowKey& k = m.shadowKeys[i];
        EXPECT_EQ(k.frame, Attr(shadows[i], "frame"));
        const std::string mode = Text(*shadows[i], "mode");
        EXPECT_EQ("MODE_" + std::to_string(k.mode), mode);
        EXPECT_FLOAT_EQ(k.distance, Attr(shadows[i], "rawParam"));
    }
}

}  // namespace

TEST(VmdFixtures, EveryFixtureDecodesAsItsExpectedContent) {
    QV_REQUIRE_CONTENT();
    const auto dir = ContentDir() / "vmd-fixtures";
    std::size_t checked = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        if (entry.path().extension() == ".vmd") {
            CheckFixture(entry.path());
            ++checked;
        }
    }
    EXPECT_GE(checked, 7u);
}

}  // namespace qv
