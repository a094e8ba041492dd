// Drives the tool windows through Dear ImGui without a GPU: the mouse and keys go in through the
// IO, frames run, state is read back.
#include "tests/ui/interface_driver.h"

#include <map>
#include <utility>

namespace qv {

InterfaceDriver::InterfaceDriver(std::function<void()> draw, float width, float height)
    : draw_(std::move(draw)) {
    context_.UseBuiltInFont();
    unsigned char* pixels = nullptr;
    int w = 0, h = 0;
    ImGui::GetIO().Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
    SetDisplaySize(width, height);
    ImGui::GetIO().DeltaTime = 1.0f / 60.0f;
    // Dear ImGui's own key numbers are the driver's key codes: a test
    // presses ImGuiKey_Enter through KeysDown[ImGuiKey_Enter].
    for (int key = 0; key < ImGuiKey_COUNT; ++key) {
        ImGui::GetIO().KeyMap[key] = key;
    }
}

void InterfaceDriver::SetDisplaySize(float width, float height) {
    ImGui::GetIO().DisplaySize = ImVec2(width, height);
}

void InterfaceDriver::Frame() {
    ImGui::NewFrame();
    draw_();
    ImGui::Render();
}

namespace {

// Appends the glyphs of the window's draw list, then of its child windows, in
// the order they were drawn.
void AppendGlyphs(const ImGuiWindow& window, const std::map<std::pair<float, float>, ImWchar>& tops,
                  std::string& text) {
    const ImVector<ImDrawVert>& v = window.DrawList->VtxBuffer;
    for (int i = 0; i + 3 < v.Size; ++i) {
        const auto top = tops.find({v[i].uv.x, v[i].uv.y});
        if (top == tops.end()) {
            continue;
        }
        // A glyph is a quad whose corners carry its rectangle in the font atlas.
        const ImFontGlyph* glyph = ImGui::GetIO().Fonts->Fonts[0]->FindGlyphNoFallback(top->second);
        if (glyph == nullptr || v[i + 2].uv.x != glyph->U1 || v[i + 2].uv.y != glyph->V1) {
            continue;
        }
        char utf8[5] = {};
        ImTextCharToUtf8(utf8, top->second);
        text += utf8;
        i += 3;
    }
    for (const ImGuiWindow* child : window.DC.ChildWindows) {
        AppendGlyphs(*child, tops, text);
    }
}

}  // namespace

std::string InterfaceDriver::DrawnText(const char* window) const {
    const ImGuiWindow* w = Window(window);
    if (w == nullptr || !w->Active) {
        return {};
    }
    std::map<std::pair<float, float>, ImWchar> tops;
    for (const ImFontGlyph& glyph : ImGui::GetIO().Fonts->Fonts[0]->Glyphs) {
        if (glyph.Visible) {
            tops[{glyph.U0, glyph.V0}] = static_cast<ImWchar>(glyph.Codepoint);
        }
    }
    std::string text;
    AppendGlyphs(*w, tops, text);
    return text;
}

bool InterfaceDriver::Highlighted(const char* window, ImVec2 at) const {
    const ImGuiWindow* w = Window(window);
    if (w == nullptr || !w->Active) {
        return false;
    }
    const ImU32 selected = ImGui::GetColorU32(ImGuiCol_Header);
    const ImVector<ImDrawVert>& v = w->DrawList->VtxBuffer;
    // A selected row's background is a filled rectangle: four corners of one colour.
    for (int i = 0; i + 3 < v.Size; ++i) {
        if (v[i].col != selected || v[i + 1].col != selected || v[i + 2].col != selected ||
            v[i + 3].col != selected) {
            continue;
        }
        ImRect box(v[i].pos, v[i].pos);
        for (int k = 1; k < 4; ++k) {
            box.Add(v[i + k].pos);
        }
        if (box.Contains(at)) {
            return true;
        }
        i += 3;
    }
    return false;
}

ImGuiID InterfaceDriver::Id(const char* window, std::initializer_list<IdPart> path) {
    ImGuiID seed = ImHashStr(window);
    for (const IdPart& part : path) {
        if (const char* const* label = std::get_if<const char*>(&part)) {
            seed = ImHashStr(*label, 0, seed);
        } else {
            const int n = std::get<int>(part);
            seed = ImHashData(&n, sizeof n, seed);
        }
    }
    return seed;
}

ImGuiWindow* InterfaceDriver::Window(const char* name) const {
    return ImGui::FindWindowByName(name);
}

bool InterfaceDriver::Hover(const char* window, const std::function<bool()>& found, ImVec2* at) {
    const ImGuiWindow* w = Window(window);
    if (w == nullptr) {
        return false;
    }
    const ImVec2 from = w->Pos;
    const ImVec2 size = w->Size;
    ImGuiIO& io = ImGui::GetIO();
    // Steps below the smallest widget (a "/" path button is 14 pixels wide,
    // a row of text 13 pixels high plus spacing): each probe costs a frame.
    for (float y = from.y + 2.0f; y < from.y + size.y; y += 8.0f) {
        for (float x = from.x + 2.0f; x < from.x + size.x; x += 12.0f) {
            io.MousePos = ImVec2(x, y);
            Frame();
            if (found()) {
                *at = ImVec2(x, y);
                return true;
            }
        }
    }
    return false;
}

bool InterfaceDriver::Find(const char* window, ImGuiID id, ImVec2* at) {
    return Hover(
        window, [id] { return ImGui::GetCurrentContext()->HoveredId == id; }, at);
}

std::string InterfaceDriver::FirstTooltip(const char* window) {
    ImVec2 at;
    if (!Hover(
            window, [this] { return !DrawnText("##Tooltip_00").empty(); }, &at)) {
        return {};
    }
    // A tooltip sizes itself to its text over its first frames.
    Frames(2);
    const std::string text = DrawnText("##Tooltip_00");
    Io().MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
    Frame();
    return text;
}

bool InterfaceDriver::Click(const char* window, ImGuiID id) {
    ImVec2 at;
    if (!Find(window, id, &at)) {
        return false;
    }
    ImGuiIO& io = ImGui::GetIO();
    io.MousePos = at;
    io.MouseDown[0] = true;
    Frame();
    io.MouseDown[0] = false;
    Frame();
    // Away from every window, so that the next frames hover nothing.
    io.MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
    Frame();
    return true;
}

bool InterfaceDriver::Choose(const char* window, std::initializer_list<IdPart> combo,
                             std::initializer_list<IdPart> entry) {
    if (!ClickIn(window, combo)) {
        return false;
    }
    Frame();
    const ImGuiContext& g = *GImGui;
    if (g.OpenPopupStack.empty() || g.OpenPopupStack.back().Window == nullptr) {
        return false;
    }
    const char* list = g.OpenPopupStack.back().Window->Name;
    return ClickIn(list, entry);
}

bool InterfaceDriver::Type(const char* window, ImGuiID id, const std::string& text,
                           bool ctrlClick) {
    ImGuiIO& io = ImGui::GetIO();
    io.KeyCtrl = ctrlClick;
    const bool clicked = Click(window, id);
    io.KeyCtrl = false;
    if (!clicked) {
        return false;
    }
    for (const char c : text) {
        io.AddInputCharacter(static_cast<ImWchar>(c));
        Frame();
    }
    io.KeysDown[ImGuiKey_Enter] = true;
    Frame();
    io.KeysDown[ImGuiKey_Enter] = false;
    Frame();
    return true;
}

}  // namespace qv
