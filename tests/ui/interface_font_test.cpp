// The interface font: a file that is no font, and the installed Japanese face.
#include <gtest/gtest.h>

#include <filesystem>
#include <span>

#include "platform/file_read.h"
#include "tests/support/temp_file.h"
#include "ui/interface_context.h"

namespace qv {

namespace {

TEST(InterfaceFontTest, AFileThatIsNoFontIsRefusedWithItsName) {
    const std::uint8_t junk[] = {'n', 'o', 't', ' ', 'a', ' ', 'f', 'o',
                                 'n', 't', 0,   1,   2,   3,   4,   5};
    TempFile file("broken.otf", junk);
    InterfaceContext context;
    Result loaded = context.LoadFont({file.path(), 0});
    EXPECT_EQ(loaded.code, E_FAIL);
    EXPECT_NE(loaded.message.find("broken.otf"), std::string::npos) << loaded.message;
    // A font collection's header cut short, and one that holds no faces.
    const std::uint8_t collection[] = {'t', 't', 'c', 'f', 0, 1, 0, 0, 0, 0, 0, 0};
    for (const std::size_t size : {std::size_t{11}, std::size_t{12}}) {
        TempFile cut("cut.ttc", std::span<const std::uint8_t>(collection, size));
        EXPECT_EQ(context.LoadFont({cut.path(), 0}).code, E_FAIL) << size;
    }
    // One whose only face would start just past the file's end.
    const std::uint8_t pastEnd[] = {'t', 't', 'c', 'f', 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 16};
    TempFile outside("outside.ttc", pastEnd);
    EXPECT_EQ(context.LoadFont({outside.path(), 0}).code, E_FAIL);
    loaded = context.LoadFont({file.folder() / "missing.otf", 0});
    EXPECT_EQ(loaded.code, E_FAIL);
    EXPECT_NE(loaded.message.find("missing.otf"), std::string::npos) << loaded.message;
    // A context ends with its owner, leaving none current.
    {
        InterfaceContext inner;
        EXPECT_NE(ImGui::GetCurrentContext(), nullptr);
    }
    EXPECT_EQ(ImGui::GetCurrentContext(), nullptr);
}

TEST(InterfaceFontTest, TheInstalledJapaneseFaceDrawsNamesAndTheExtraSymbols) {
    FontFace face;
    if (const Result found = FindInterfaceFont("no/such/folder/font.otf", &face); !found.ok()) {
        GTEST_SKIP() << found.message;
    }
    InterfaceContext context;
    EXPECT_TRUE(ImGui::GetIO().IniFilename == nullptr);
    EXPECT_FLOAT_EQ(ImGui::GetStyle().WindowRounding, 4.0f);
    const Result loaded = context.LoadFont(face);
    ASSERT_EQ(loaded.code, S_OK) << loaded.message;
    const ImFont* font = ImGui::GetIO().Fonts->Fonts[0];
    EXPECT_FLOAT_EQ(font->FontSize, kInterfaceFontPixels);
    // Kana and kanji of model names, and the symbols beyond the Japanese ranges.
    for (ImWchar c : {ImWchar(0x30B8), ImWchar(0x30CD), ImWchar(0x8155), ImWchar(0x6369),
                      ImWchar(0x25B2), ImWchar(0x2227), ImWchar(0x25A1), ImWchar(0x03C9)}) {
        EXPECT_NE(font->FindGlyphNoFallback(c), nullptr) << std::hex << c;
    }
    // Cut short anywhere, the face is refused before anything reads past the end.
    std::vector<std::uint8_t> whole;
    ASSERT_TRUE(Succeeded(ReadWholeFile(face.file, whole)));
    for (const std::size_t size :
         {std::size_t{16}, std::size_t{300}, std::size_t{3000}, whole.size() / 2}) {
        TempFile cut("cut" + face.file.extension().string(),
                     std::span<const std::uint8_t>(whole.data(), size));
        EXPECT_EQ(context.LoadFont({cut.path(), face.index}).code, E_FAIL) << size;
    }
    // A face other than a collection's first is the one drawn: Debian's
    // regular sans-serif CJK collection holds fixed-width faces from the sixth on.
    const auto regular = face.file.parent_path() / "NotoSansCJK-Regular.ttc";
    if (std::filesystem::exists(regular)) {
        const auto advance = [](char c) {
            return ImGui::GetIO().Fonts->Fonts[0]->FindGlyph(static_cast<ImWchar>(c))->AdvanceX;
        };
        ASSERT_EQ(context.LoadFont({regular, 5}).code, S_OK);
        EXPECT_EQ(advance('i'), advance('W'));
        ASSERT_EQ(context.LoadFont({regular, 0}).code, S_OK);
        EXPECT_LT(advance('i'), advance('W'));
    }
    // The built-in font takes the face's place where none can be loaded.
    context.UseBuiltInFont();
    ASSERT_EQ(ImGui::GetIO().Fonts->Fonts.Size, 1);
    EXPECT_EQ(ImGui::GetIO().Fonts->Fonts[0]->FindGlyphNoFallback(ImWchar(0x30B8)), nullptr);
    EXPECT_TRUE(ImGui::GetIO().Fonts->IsBuilt());
}

}  // namespace

}  // namespace qv
