// Pose files: one key per bone and morph, bad lines warned about by number, non-poses refused.
#include <gtest/gtest.h>

#include <string>

#include "formats/vmd_names.h"
#include "formats/vpd_pose.h"
#include "tests/support/content_writers.h"

namespace qv {

namespace {

std::string Sjis(std::u16string_view text) {
    VmdNameCodec codec;
    return codec.Encode(text);
}

VmdMotion Parse(const std::string& text, VpdWarnings& warnings, HRESULT expected = S_OK) {
    VmdMotion motion;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    EXPECT_EQ(ParseVpdPose(motion, {bytes, text.size()}, warnings), expected);
    return motion;
}

TEST(VpdReaderTest, BonesAndMorphsBecomeKeysAtFrameZeroNamedAsMotionsNameThem) {
    // A name longer than a motion's 15-byte field, cut inside a character.
    const std::u16string longName = u"左足ＩＫ親先端ボーン";
    const std::string text = kVpdFirstLine + "\r\n\r\n" + Sjis(u"人形.osm") +
                             ";\t\t// the model\r\n3;  // bones\r\n\r\n" + "Bone0{" +
                             Sjis(u"右腕") + "\r\n  1.5,-2,0.25;  // trans\r\n" +
                             "  0.0,0.7071068,0,0.7071068;\r\n}\r\n" + "Bone1{" + Sjis(longName) +
                             "\n0,0,0;\n0,0,0,1;\n}\n" +
                             "// a comment line\nBone2{center\n0,1e1,0;\n0,0,0,1;\n}\n" +
                             "Morph0{" + Sjis(u"まばたき") + "\n 0.5;\n}\n";
    VpdWarnings warnings;
    const VmdMotion pose = Parse(text, warnings);
    EXPECT_EQ(warnings.count, 0u) << (warnings.lines.empty() ? "" : warnings.lines[0]);
    EXPECT_EQ(pose.modelName, u"人形.osm");
    VmdNameCodec codec;
    const std::u16string arm = codec.ModelNameKey(u"右腕", kVmdKeyNameBytes);
    ASSERT_EQ(pose.boneKeys.size(), 3u);
    ASSERT_EQ(pose.boneKeys.count(arm), 1u);
    const VmdBoneKey& key = pose.boneKeys.at(arm).at(0);
    EXPECT_EQ(key.frame, 0u);
    EXPECT_EQ(key.position, (Float3{1.5f, -2.0f, 0.25f}));
    EXPECT_EQ(key.rotation, (Float4{0.0f, 0.7071068f, 0.0f, 0.7071068f}));
    EXPECT_EQ(pose.boneKeys.count(codec.ModelNameKey(longName, kVmdKeyNameBytes)), 1u);
    EXPECT_EQ(pose.boneKeys.at(u"center").at(0).position, (Float3{0.0f, 10.0f, 0.0f}));
    const std::u16string blink = codec.ModelNameKey(u"まばたき", kVmdKeyNameBytes);
    ASSERT_EQ(pose.morphKeys.count(blink), 1u);
    EXPECT_EQ(pose.morphKeys.at(blink).at(0).weight, 0.5f);
    EXPECT_EQ(pose.morphKeys.at(blink).at(0).frame, 0u);
    EXPECT_TRUE(pose.cameraKeys.empty());
}

TEST(VpdReaderTest, EachBadLineWarnsOnceByNumberAndTheRestOfThePoseLoads) {
    const std::string text = kVpdFirstLine +
                             "\n"            // 1
                             "m.osm;\n"      // 2
                             "three;\n"      // 3: not a count
                             "Bone0{a\n"     // 4
                             "1,2;\n"        // 5: two numbers
                             "0,0,0,1;\n"    // 6
                             "}\n"           // 7
                             "Bone1{b\n"     // 8
                             "1,2,3;\n"      // 9
                             "nan,0,0,1;\n"  // 10: not finite
                             "9,9,9;\n"      // 11: one line too many
                             "}\n"           // 12
                             "stray text\n"  // 13
                             "Morph0{m\n"    // 14
                             "}\n"           // 15: no weight
                             "Bone2{c\n"     // 16: never closed
                             "4,5,6;\n"      // 17
                             "0,0,0,1;\n"    // 18
                             "Bone3{\n"      // 19: no name
                             "}\n";          // 20
    VpdWarnings warnings;
    const VmdMotion pose = Parse(text, warnings);
    const std::vector<std::string> lineNumbers = {"line 3:",  "line 5:",  "line 10:", "line 11:",
                                                  "line 13:", "line 15:", "line 16:", "line 19:"};
    ASSERT_EQ(warnings.lines.size(), lineNumbers.size());
    EXPECT_EQ(warnings.count, lineNumbers.size());
    for (std::size_t i = 0; i < lineNumbers.size(); ++i) {
        EXPECT_EQ(warnings.lines[i].rfind(lineNumbers[i], 0), 0u) << warnings.lines[i];
    }
    EXPECT_NE(warnings.lines[4].find("stray text"), std::string::npos);
    // What the good lines gave stays; a bad line leaves its neutral value.
    ASSERT_EQ(pose.boneKeys.size(), 3u);
    EXPECT_EQ(pose.boneKeys.at(u"a").at(0).position, (Float3{}));
    EXPECT_EQ(pose.boneKeys.at(u"a").at(0).rotation, (Float4{0, 0, 0, 1}));
    EXPECT_EQ(pose.boneKeys.at(u"b").at(0).position, (Float3{1, 2, 3}));
    EXPECT_EQ(pose.boneKeys.at(u"b").at(0).rotation, (Float4{0, 0, 0, 1}));
    EXPECT_EQ(pose.boneKeys.at(u"c").at(0).position, (Float3{4, 5, 6}));
    EXPECT_EQ(pose.morphKeys.at(u"m").at(0).weight, 0.0f);
}

TEST(VpdReaderTest, FilesThatAreNotPosesAreRefused) {
    VpdWarnings warnings;
    Parse("", warnings, E_FAIL);
    Parse("\n" + kVpdFirstLine + "\n", warnings, E_FAIL);  // the signature must be the first line
    Parse(kVpdFirstLine.substr(0, kVpdFirstLine.size() - 1) + "\nm;\n", warnings, E_FAIL);
    Parse(std::string("PMX \0\0\0@", 8), warnings, E_FAIL);
    EXPECT_EQ(warnings.count, 0u);
    // A signature line with trailing spaces, a UTF-8 mark or no line end at all is a pose.
    Parse(kVpdFirstLine + "  \r", warnings);
    Parse("\xEF\xBB\xBF" + kVpdFirstLine, warnings);
}

TEST(VpdReaderTest, HostileFilesLoadOrFailCleanlyAndWarningsStayBounded) {
    const std::string good = kVpdFirstLine + "\nm.osm;\n1;\nBone0{" + Sjis(u"右腕") +
                             "\n1,2,3;\n0,0,0,1;\n}\nMorph0{x\n1;\n}\n";
    for (std::size_t cut = 0; cut <= good.size(); ++cut) {
        VpdWarnings warnings;
        VmdMotion motion;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(good.data());
        const HRESULT hr = ParseVpdPose(motion, {bytes, cut}, warnings);
        EXPECT_EQ(hr, cut >= kVpdFirstLine.size() ? S_OK : E_FAIL) << cut;
        EXPECT_LE(motion.boneKeys.size(), 1u);
    }

    // A line of a megabyte is quoted, not copied.
    VpdWarnings warnings;
    Parse(kVpdFirstLine + "\nm;\n0;\n" + std::string(1 << 20, '7') + "\n", warnings);
    ASSERT_EQ(warnings.count, 1u);
    EXPECT_LT(warnings.lines[0].size(), 200u);

    // Half a million bad lines: all counted, a hundred kept.
    std::string junk = kVpdFirstLine + "\nm;\n0;\n";
    for (int i = 0; i < 500000; ++i) {
        junk += "?\n";
    }
    warnings = {};
    Parse(junk, warnings);
    EXPECT_EQ(warnings.count, 500000u);
    EXPECT_EQ(warnings.lines.size(), kVpdWarningsKept);

    // A count of 2^32 - 1 is only a number: nothing is reserved for it.
    warnings = {};
    const VmdMotion pose =
        Parse(kVpdFirstLine + "\nm;\n4294967295;\nBone0{a\n0,0,0;\n0,0,0,1;\n}\n", warnings);
    EXPECT_EQ(pose.boneKeys.size(), 1u);
    EXPECT_EQ(warnings.count, 1u);  // the count does not match
}

}  // namespace

}  // namespace qv
