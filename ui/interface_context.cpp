// The Dear ImGui context of the player: no settings file, the dark style and the Japanese-capable
// font.
#include "ui/interface_context.h"

#include <stb_truetype.h>

#include <cstring>

#include "platform/file_read.h"

namespace qv {

namespace {

// Symbols the windows draw beyond the Japanese ranges: 捩, ▲, ∧, □ and ω.
constexpr ImWchar kExtraGlyphs[] = {0x6369, 0x25B2, 0x2227, 0x25A1, 0x03C9};

std::uint64_t BigEndian(const std::vector<std::uint8_t>& bytes, std::size_t at, int count) {
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i) {
        value = value << 8 | bytes[at + static_cast<std::size_t>(i)];
    }
    return value;
}

// The atlas builder asserts on data it cannot parse, and the font reader
// trusts the offsets and lengths a file gives: a file that is no font, or one
// cut short, must be refused before it gets there. A collection's list of
// faces, the face's table directory and every table must lie inside the file.
bool LooksLikeFont(const std::vector<std::uint8_t>& bytes, int index) {
    if (bytes.size() < 12 || index < 0) {
        return false;
    }
    const auto face = static_cast<std::size_t>(index);
    if (std::memcmp(bytes.data(), "ttcf", 4) == 0 && bytes.size() < 16 + 4 * face) {
        return false;
    }
    const int offset = stbtt_GetFontOffsetForIndex(bytes.data(), index);
    if (offset < 0 || static_cast<std::size_t>(offset) + 12 > bytes.size()) {
        return false;
    }
    const auto start = static_cast<std::size_t>(offset);
    const std::size_t tables = BigEndian(bytes, start + 4, 2);
    if (start + 12 + 16 * tables > bytes.size()) {
        return false;
    }
    for (std::size_t i = 0; i < tables; ++i) {
        const std::size_t record = start + 12 + 16 * i;
        if (BigEndian(bytes, record + 8, 4) + BigEndian(bytes, record + 12, 4) > bytes.size()) {
            return false;
        }
    }
    stbtt_fontinfo info;
    return stbtt_InitFont(&info, bytes.data(), offset) != 0;
}

}  // namespace

InterfaceContext::InterfaceContext() {
    context_ = ImGui::CreateContext();
    ImGui::SetCurrentContext(context_);
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;
    ImGui::StyleColorsDark();
    ImGui::GetStyle().WindowRounding = 4.0f;
}

InterfaceContext::~InterfaceContext() {
    if (context_ != nullptr) {
        ImGui::DestroyContext(context_);
    }
}

Result InterfaceContext::LoadFont(const FontFace& face) {
    std::vector<std::uint8_t> bytes;
    if (Failed(ReadWholeFile(face.file, bytes)) || !LooksLikeFont(bytes, face.index)) {
        return Result::Failure(
            E_FAIL, "the interface font " + face.file.string() + " cannot be read as a font");
    }
    ImGuiIO& io = ImGui::GetIO();
    ImFontGlyphRangesBuilder builder;
    builder.AddRanges(io.Fonts->GetGlyphRangesJapanese());
    for (ImWchar c : kExtraGlyphs) {
        builder.AddChar(c);
    }
    ranges_.clear();
    builder.BuildRanges(&ranges_);

    // The atlas frees the font data with Dear ImGui's allocator.
    void* data = IM_ALLOC(bytes.size());
    std::memcpy(data, bytes.data(), bytes.size());
    ImFontConfig config;
    config.FontNo = face.index;
    io.Fonts->Clear();
    ImFont* font = io.Fonts->AddFontFromMemoryTTF(data, static_cast<int>(bytes.size()),
                                                  kInterfaceFontPixels, &config, ranges_.Data);
    if (font == nullptr || !io.Fonts->Build()) {
        io.Fonts->Clear();
        return Result::Failure(
            E_FAIL, "the interface font " + face.file.string() + " has no usable glyphs");
    }
    return {};
}

void InterfaceContext::UseBuiltInFont() {
    ImGuiIO& io = ImGui::GetIO();
    io.Fonts->Clear();
    io.Fonts->AddFontDefault();
    io.Fonts->Build();
}

}  // namespace qv
