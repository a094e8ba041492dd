// Names in any encoding must decode, with bad bytes replaced rather than fatal.
#include "formats/text_decode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/code_page.h"

namespace qv {

namespace {
std::vector<std::uint8_t> Bytes(std::string_view s) {
    return {s.begin(), s.end()};
}
}  // namespace

TEST(TextDecode, Utf16DropsOddByteAndStopsAtNul) {
    EXPECT_EQ(DecodeUtf16Le(Bytes(std::string("A\0B\0C", 5))), u"AB");
    EXPECT_EQ(DecodeUtf16Le(Bytes(std::string("A\0\0\0B\0", 6))), u"A");
    EXPECT_EQ(DecodeUtf16Le(Bytes(std::string("\xBB\x30", 2))), u"\u30BB");
    EXPECT_EQ(DecodeUtf16Le({}), u"");
}

TEST(TextDecode, Utf8ValidTextRoundTrips) {
    const std::string text = "センター Ω \xF0\x9F\x98\x80 end";
    const std::u16string wide = DecodeUtf8(Bytes(text));
    EXPECT_EQ(wide, u"センター Ω \U0001F600 end");
    EXPECT_EQ(ToUtf8(wide), text);
    EXPECT_EQ(ToUtf16(text), wide);
}

TEST(TextDecode, Utf8MalformedSequencesBecomeReplacementCharacters) {
    struct Case {
        std::string in;
        std::u16string out;
    };
    const Case cases[] = {
        {"a\x80z", u"a\uFFFDz"},              // stray continuation byte
        {"a\xC3z", u"a\uFFFDz"},              // lead without continuation
        {"a\xC0\xAFz", u"a\uFFFD\uFFFDz"},    // C0 is never a valid lead
        {"a\xE0\x80\xAFz", u"a\uFFFDz"},      // overlong three-byte form
        {"a\xED\xA0\x80z", u"a\uFFFDz"},      // encoded surrogate
        {"a\xF4\x90\x80\x80z", u"a\uFFFDz"},  // above U+10FFFF
        {"ab\xE3\x82", u"ab\uFFFD"},          // cut at the end
        {"\xFF\xFEok", u"\uFFFD\uFFFDok"},
        {std::string("ab\0cd", 5), u"ab"},  // ends at the first NUL
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecodeUtf8(Bytes(c.in)), c.out) << "input of " << c.in.size() << " bytes";
    }
}

TEST(TextDecode, Utf8OutputReplacesUnpairedSurrogates) {
    EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
    EXPECT_EQ(ToUtf8(u"x" + std::u16string(1, char16_t(0xDC00))), "x\xEF\xBF\xBD");
}

TEST(CodePage932, DecodesNamesAsTheyAppearInMotions) {
    Cp932Decoder decoder;
    // センター, 左足ＩＫ, and a backslash-looking 0x5C that is a real backslash here.
    EXPECT_EQ(decoder.Decode(Bytes("\x83\x5A\x83\x93\x83\x5E\x81\x5B")), u"センター");
    EXPECT_EQ(decoder.Decode(Bytes("\x8D\xB6\x91\xAB\x82\x68\x82\x6A")), u"左足ＩＫ");
    EXPECT_EQ(decoder.Decode(Bytes("a\\b")), u"a\\b");
    // NEC row 13 extension (circled one), which plain Shift-JIS lacks.
    EXPECT_EQ(decoder.Decode(Bytes("\x87\x40")), u"\u2460");
    // Half-width katakana.
    EXPECT_EQ(decoder.Decode(Bytes("\xB1")), u"\uFF71");
}

TEST(CodePage932, StopsAtNulAndAtACutCharacter) {
    Cp932Decoder decoder;
    EXPECT_EQ(decoder.Decode(Bytes(std::string("\x83\x5A\0\x83\x93", 5))), u"セ");
    // A 15-byte field cut inside its last double-byte character.
    const std::string cut = "\x89\x45\x82\xD0\x82\xB4\x82\xBD\x82\xA2\x82\xB5\x82\xA0\x82";
    ASSERT_EQ(cut.size(), 15u);
    EXPECT_EQ(decoder.Decode(Bytes(cut)), u"右ひざたいしあ");
    EXPECT_EQ(decoder.Decode({}), u"");
}

TEST(CodePage932, InvalidBytesAreReplacedNotFatal) {
    Cp932Decoder decoder;
    const std::u16string text =
        decoder.Decode(Bytes("a\xA0"
                             "b"));
    EXPECT_EQ(text.front(), u'a');
    EXPECT_EQ(text.back(), u'b');
    EXPECT_EQ(decoder.Decode(Bytes("\xFF\xFF")).size(), 2u);
}

}  // namespace qv
