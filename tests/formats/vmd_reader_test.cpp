// Motion files of every version and length must load, with no keys invented.
#include <gtest/gtest.h>

#include "formats/vmd_motion.h"
#include "tests/support/content_writers.h"
#include "tests/support/temp_file.h"

namespace qv {

namespace {

// A signature as the reader gives it back: its ASCII bytes as UTF-16.
std::u16string Widened(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

const std::string kCenter = "\x83\x5A\x83\x93\x83\x5E\x81\x5B";  // センター

VmdMotion Parse(const std::vector<std::uint8_t>& bytes) {
    VmdMotion motion;
    EXPECT_EQ(ParseVmdMotion(motion, bytes), S_OK);
    return motion;
}

}  // namespace

TEST(VmdReader, ReadsEverySectionField) {
    VmdFile f;
    f.bones = {{kCenter, 10, {1, 2, 3}, {0, 0, 0.5f, 0.8660254f}, 7}};
    f.morphs = {{"\x82\xA0", 0, 1.0f}};  // あ
    VmdCameraKey cam;
    cam.frame = 3;
    cam.distance = -35;
    cam.position = {0, 10, 0};
    cam.rotation = {0.1f, 0.2f, 0.3f};
    for (int i = 0; i < 24; ++i)
        cam.interpolation[i] = static_cast<std::uint8_t>(i);
    cam.viewAngle = 45;
    cam.perspective = 1;
    f.cameras = {cam};
    f.lights = {{4, {0.6f, 0.6f, 0.6f, 0.0f}, {-0.5f, -1.0f, 0.5f}}};
    f.shadows = {{5, 1, 0.01125f}};
    const VmdMotion m = Parse(EncodeVmd(f));

    EXPECT_EQ(m.signature, Widened(kVmdSignature));
    EXPECT_EQ(m.modelName, u"model");
    ASSERT_EQ(m.boneKeys.count(u"センター"), 1u);
    const VmdBoneKey& k = m.boneKeys.at(u"センター").at(0);
    EXPECT_EQ(k.boneName, u"センター");
    EXPECT_EQ(k.frame, 10u);
    EXPECT_EQ(k.position, (Float3{1, 2, 3}));
    EXPECT_EQ(k.rotation, (Float4{0, 0, 0.5f, 0.8660254f}));
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(k.interpolation[i], 7 + i);

    ASSERT_EQ(m.morphKeys.at(u"あ").size(), 1u);
    EXPECT_EQ(m.morphKeys.at(u"あ")[0].weight, 1.0f);
    ASSERT_EQ(m.cameraKeys.size(), 1u);
    EXPECT_EQ(m.cameraKeys[0], cam);
    ASSERT_EQ(m.lightKeys.size(), 1u);
    EXPECT_EQ(m.lightKeys[0].color.w, 1.0f);  // alpha is not in the file
    EXPECT_EQ(m.lightKeys[0].direction, (Float3{-0.5f, -1.0f, 0.5f}));
    ASSERT_EQ(m.shadowKeys.size(), 1u);
    EXPECT_EQ(m.shadowKeys[0].mode, 1);
    EXPECT_EQ(m.shadowKeys[0].distance, 0.01125f);
}

TEST(VmdReader, KeysOfOneNameKeepFileOrderAndNamesIgnoreBytesAfterNul) {
    VmdFile f;
    f.bones = {{kCenter, 30}, {"arm", 5}, {kCenter + std::string("\0junk", 5), 0}, {"arm", 5}};
    const VmdMotion m = Parse(EncodeVmd(f));
    ASSERT_EQ(m.boneKeys.size(), 2u);
    const auto& center = m.boneKeys.at(u"センター");
    ASSERT_EQ(center.size(), 2u);
    EXPECT_EQ(center[0].frame, 30u);
    EXPECT_EQ(center[1].frame, 0u);
    EXPECT_EQ(m.boneKeys.at(u"arm").size(), 2u);  // duplicates kept
    // Ordered by UTF-16 code units: ASCII before katakana.
    EXPECT_EQ(m.boneKeys.begin()->first, u"arm");
}

TEST(VmdReader, OlderFilesWithoutCameraSectionsLoad) {
    VmdFile f;
    f.bones = {{"a", 1}};
    f.morphs = {{"b", 2, 0.5f}};
    f.writeCameraLightShadow = false;
    const VmdMotion m = Parse(EncodeVmd(f));
    EXPECT_EQ(m.boneKeys.size(), 1u);
    EXPECT_EQ(m.morphKeys.size(), 1u);
    EXPECT_TRUE(m.cameraKeys.empty());
    EXPECT_TRUE(m.lightKeys.empty());
    EXPECT_TRUE(m.shadowKeys.empty());
}

TEST(VmdReader, FirstVersionFilesHaveATenByteModelName) {
    VmdFile f;
    f.signature = kVmdFirstSignature;
    f.modelNameBytes = 10;
    f.modelName = "old";
    f.bones = {{"bone", 12}};
    const VmdMotion m = Parse(EncodeVmd(f));
    EXPECT_EQ(m.signature, Widened(kVmdFirstSignature));
    EXPECT_EQ(m.modelName, u"old");
    ASSERT_EQ(m.boneKeys.count(u"bone"), 1u);
    EXPECT_EQ(m.boneKeys.at(u"bone")[0].frame, 12u);
}

TEST(VmdReader, CountsBeyondTheDataCreateNoEmptyKeys) {
    VmdFile f;
    f.bones = {{"a", 1}, {"b", 2}};
    std::vector<std::uint8_t> bytes = EncodeVmd(f);
    bytes[50] = 5;  // claim 5 bone keys with data for 2 (and 3 empty sections after)
    const VmdMotion m = Parse(bytes);
    ASSERT_EQ(m.boneKeys.size(), 2u);
    EXPECT_EQ(m.boneKeys.count(u""), 0u);
}

TEST(VmdReader, ShortFilesStillLoad) {
    // Shorter than the signature: the model name comes from the first bytes.
    const std::vector<std::uint8_t> tiny = {'a', 'b', 'c', 0, 0, 0, 0, 0, 0, 0, 0,
                                            0,   0,   0,   0, 0, 0, 0, 0, 0, 0, 0};
    const VmdMotion m = Parse(tiny);
    EXPECT_EQ(m.signature, u"");
    EXPECT_EQ(m.modelName, u"abc");
    const VmdMotion one = Parse({0x41});
    EXPECT_EQ(one.modelName, u"");
}

TEST(VmdReader, LoadFromDiskAndFailures) {
    VmdFile f;
    f.morphs = {{"m", 0, 1.0f}};
    TempFile file("dance.vmd", EncodeVmd(f));
    VmdMotion m;
    ASSERT_EQ(LoadVmdMotion(m, file.path()), S_OK);
    EXPECT_EQ(m.fileName, "dance.vmd");
    EXPECT_EQ(m.folder, file.folder().string() + "/");
    VmdMotion e;
    EXPECT_EQ(LoadVmdMotion(e, ""), E_INVALIDARG);
    EXPECT_EQ(LoadVmdMotion(e, file.folder() / "missing.vmd"), E_FAIL);
    TempFile empty("empty.vmd", {});
    EXPECT_EQ(LoadVmdMotion(e, empty.path()), E_FAIL);
}

}  // namespace qv
