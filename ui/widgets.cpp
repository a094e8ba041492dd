// Small drawing helpers shared by the tool windows.
#include "ui/widgets.h"

#include <imgui.h>

#include <algorithm>
#include <cstdio>

#include "scene/scene.h"
#include "ui/interface_view.h"

namespace qv {

void HelpMarker(const char* text) {
    ImGui::TextDisabled("(?)");
    if (ImGui::IsItemHovered()) {
        ImGui::BeginTooltip();
        ImGui::PushTextWrapPos(ImGui::GetFontSize() * 35.0f);
        ImGui::TextUnformatted(text);
        ImGui::PopTextWrapPos();
        ImGui::EndTooltip();
    }
}

void KeepWindowOnScreen() {
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    if (display.x <= 0.0f || display.y <= 0.0f) {
        return;
    }
    const ImVec2 pos = ImGui::GetWindowPos();
    const ImVec2 size = ImGui::GetWindowSize();
    const ImVec2 fitted(std::max(0.0f, std::min(pos.x, display.x - size.x)),
                        std::max(0.0f, std::min(pos.y, display.y - size.y)));
    if (fitted.x != pos.x || fitted.y != pos.y) {
        ImGui::SetWindowPos(fitted);
    }
}

bool BeginListTable(const char* id, std::initializer_list<const char*> columns) {
    constexpr int kListTableFlags =
        ImGuiTableFlags_RowBg | ImGuiTableFlags_Borders | ImGuiTableFlags_SizingFixedFit;
    if (!ImGui::BeginTable(id, static_cast<int>(columns.size()), kListTableFlags)) {
        return false;
    }
    for (const char* column : columns) {
        ImGui::TableSetupColumn(column);
    }
    ImGui::TableHeadersRow();
    return true;
}

void NumberedListRow(int row, const char* name) {
    ImGui::TableNextRow();
    ImGui::TableNextColumn();
    ImGui::Text("%d", row + 1);
    ImGui::TableNextColumn();
    ImGui::TextUnformatted(name);
    ImGui::TableNextColumn();
}

void DrawPlayButton(InterfaceView& view, const char* id) {
    // Built on the stack: a drawn frame allocates nothing.
    char label[64];
    std::snprintf(label, sizeof(label), "%s%s", PlayButtonLabel(view.scene.playback.state), id);
    if (ImGui::Button(label)) {
        view.ui.requests.push_back({RequestKind::PressPlay});
    }
}

std::int32_t NameCombo(const char* label, const std::vector<std::string>& names,
                       std::int32_t current) {
    return NameCombo(
        label, names.size(), [&](std::size_t i) { return names[i].c_str(); }, current);
}

}  // namespace qv
