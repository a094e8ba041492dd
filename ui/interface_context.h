// The Dear ImGui context of the player: no settings file, the dark style and the Japanese-capable
// font.
#pragma once

#include <imgui.h>

#include <string>

#include "platform/font_lookup.h"
#include "platform/result.h"

namespace qv {

// The font's size in pixels.
inline constexpr float kInterfaceFontPixels = 18.0f;
// Where the interface font is looked for first, relative to the working folder.
inline constexpr const char* kInterfaceFontPath = "Assets/Fonts/NotoSansJP-Medium.otf";

// Owns the one Dear ImGui context of the process. Created on the main thread
// before the engine; destroyed after the back ends have been shut down.
// Between frames only the main thread touches it; during a frame only the
// interface stage does.
class InterfaceContext {
public:
    // Creates the context and makes it current: no settings file is read or
    // written, the dark style with window rounding 4.
    InterfaceContext();
    ~InterfaceContext();
    InterfaceContext(const InterfaceContext&) = delete;
    InterfaceContext& operator=(const InterfaceContext&) = delete;

    // Adds the face at kInterfaceFontPixels with the Japanese glyph ranges and
    // the few symbols the windows use, and builds the atlas. E_FAIL with a
    // one-line reason when the file cannot be read or is not a font.
    Result LoadFont(const FontFace& face);
    // Dear ImGui's built-in font: for tests, which need no Japanese glyphs.
    void UseBuiltInFont();

    ImGuiContext* Get() const { return context_; }
    const ImVector<ImWchar>& GlyphRanges() const { return ranges_; }

private:
    ImGuiContext* context_ = nullptr;
    // The atlas keeps a pointer to the ranges until it is destroyed.
    ImVector<ImWchar> ranges_;
};

}  // namespace qv
