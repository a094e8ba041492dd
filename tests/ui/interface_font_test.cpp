// The interface font: a file that is no font, and the installed Japanese face.
#include <gtest/gtest.h>

#include "tests/support/temp_file.h"
#include "ui/interface_context.h"

namespace qv {

namespace {

TEST(InterfaceFontTest, AFileThatIsNoFontIsRefusedWithItsName) {
    const std::uint8_t junk[] = {'n', 'o', 't', ' ', 'a', ' ', 'f', 'o',
                                 'n', 't', 0,   1,   2,   3,   4,   5};
    TempFile file("broken.otf", junk);
    InterfaceContext context;
    std::string reason;
    EXPECT_EQ(context.LoadFont({file.path(), 0}, &reason), E_FAIL);
    EXPECT_NE(reason.find("broken.otf"), std::string::npos) << reason;
    reason.clear();
    EXPECT_EQ(context.LoadFont({file.folder() / "missing.otf", 0}, &reason), E_FAIL);
    EXPECT_NE(reason.find("missing.otf"), std::string::npos) << reason;
}

TEST(InterfaceFontTest, TheInstalledJapaneseFaceDrawsNamesAndTheExtraSymbols) {
    FontFace face;
    std::string reason;
    if (!FindInterfaceFont("no/such/folder/font.otf", &face, &reason)) {
        GTEST_SKIP() << reason;
    }
    InterfaceContext context;
    EXPECT_TRUE(ImGui::GetIO().IniFilename == nullptr);
    EXPECT_FLOAT_EQ(ImGui::GetStyle().WindowRounding, 4.0f);
    ASSERT_EQ(context.LoadFont(face, &reason), S_OK) << reason;
    const ImFont* font = ImGui::GetIO().Fonts->Fonts[0];
    EXPECT_FLOAT_EQ(font->FontSize, kInterfaceFontPixels);
    // Kana and kanji of model names, and the symbols beyond the Japanese ranges.
    for (ImWchar c : {ImWchar(0x30B8), ImWchar(0x30CD), ImWchar(0x8155), ImWchar(0x6369),
                      ImWchar(0x25B2), ImWchar(0x2227), ImWchar(0x25A1), ImWchar(0x03C9)}) {
        EXPECT_NE(font->FindGlyphNoFallback(c), nullptr) << std::hex << c;
    }
}

}  // namespace

}  // namespace qv
