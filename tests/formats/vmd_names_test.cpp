// VMD names keep their bytes: cut characters, model names in file terms, IK switches.
#include <gtest/gtest.h>

#include "formats/vmd_motion.h"
#include "formats/vmd_names.h"
#include "tests/support/content_writers.h"

namespace qv {

namespace {

// 右スカートＢ３ is 14 bytes; 親 fills two more, so a 15-byte field cuts it.
const std::u16string kSkirt = u"右スカートＢ３";
const std::u16string kSkirtParent = u"右スカートＢ３親";

std::span<const std::uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

VmdMotion Parse(const VmdFile& f, const std::vector<std::uint8_t>& tail = {}) {
    std::vector<std::uint8_t> bytes = EncodeVmd(f);
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    VmdMotion motion;
    EXPECT_EQ(ParseVmdMotion(motion, bytes), S_OK);
    return motion;
}

}  // namespace

TEST(VmdNames, NamesCutInsideACharacterStayApartFromTheirPrefix) {
    const std::string cut = EncodeCp932(kSkirtParent).substr(0, 15);
    ASSERT_EQ(EncodeCp932(kSkirt).size(), 14u);
    VmdFile f;
    f.bones = {{cut, 0, {1, 0, 0}}, {EncodeCp932(kSkirt), 0, {2, 0, 0}}, {cut, 10, {3, 0, 0}}};
    const VmdMotion m = Parse(f);
    ASSERT_EQ(m.boneKeys.size(), 2u);
    VmdNameCodec codec;
    const std::u16string cutKey = codec.ModelNameKey(kSkirtParent, kVmdKeyNameBytes);
    ASSERT_EQ(m.boneKeys.count(cutKey), 1u);
    EXPECT_EQ(m.boneKeys.at(cutKey).size(), 2u);
    EXPECT_EQ(m.boneKeys.at(kSkirt).size(), 1u);
    EXPECT_EQ(m.boneKeys.at(kSkirt)[0].position.x, 2.0f);
    // The key reads as the name up to the cut.
    EXPECT_EQ(cutKey.substr(0, kSkirt.size()), kSkirt);
}

TEST(VmdNames, ModelNamesMatchTheirBytesCutToTheField) {
    VmdNameCodec codec;
    // Short names match exactly; long ones by their first 15 bytes only.
    EXPECT_EQ(codec.ModelNameKey(u"センター", 15), u"センター");
    EXPECT_EQ(codec.ModelNameKey(u"browOuterUpRight", 15), u"browOuterUpRigh");
    EXPECT_NE(codec.ModelNameKey(kSkirt, 15), codec.ModelNameKey(kSkirtParent, 15));
    EXPECT_EQ(codec.ModelNameKey(kSkirtParent, 15), codec.ModelNameKey(u"右スカートＢ３親指", 15));
    EXPECT_EQ(codec.ModelNameKey(kSkirtParent, 20), kSkirtParent);
    // Every distinct byte string gets its own key, broken ones included.
    const std::string samples[] = {"\x82",     "\x82\xA0", "\x82\xA0\x82", "\xFF\x82", "\x82\xFF",
                                   "\x81\x60", "\x87\x90", "\x81\xE0",     "a\x82"};
    for (const std::string& a : samples) {
        for (const std::string& b : samples) {
            EXPECT_EQ(codec.KeyOf(Bytes(a)) == codec.KeyOf(Bytes(b)), a == b) << a << " " << b;
        }
    }
}

TEST(VmdNames, IkSwitchesAreReadAfterTheSelfShadowKeys) {
    ByteWriter w;
    w.U32(2);  // keys
    w.U32(0), w.U8(1), w.U32(2);
    w.Fixed(EncodeCp932(u"右足ＩＫ"), 20), w.U8(1);
    w.Fixed(EncodeCp932(u"左足ＩＫ"), 20), w.U8(0);
    w.U32(30), w.U8(0), w.U32(1);
    w.Fixed(EncodeCp932(u"右足ＩＫ"), 20), w.U8(0);
    const VmdMotion m = Parse(VmdFile{}, w.bytes);
    ASSERT_EQ(m.ikKeys.size(), 2u);
    EXPECT_EQ(m.ikKeys[0].frame, 0u);
    EXPECT_EQ(m.ikKeys[0].visible, 1);
    ASSERT_EQ(m.ikKeys[0].switches.size(), 2u);
    EXPECT_EQ(m.ikKeys[0].switches[1], (VmdIkSwitch{u"左足ＩＫ", 0}));
    EXPECT_EQ(m.ikKeys[1].frame, 30u);
    EXPECT_EQ(m.ikKeys[1].switches.at(0), (VmdIkSwitch{u"右足ＩＫ", 0}));

    // A key whose switches do not fit ends the section without inventing any.
    ByteWriter cut;
    cut.U32(1), cut.U32(0), cut.U8(1), cut.U32(1000000);
    cut.Fixed("x", 20), cut.U8(1);
    EXPECT_TRUE(Parse(VmdFile{}, cut.bytes).ikKeys.empty());
}

}  // namespace qv
