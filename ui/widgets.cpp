// Small drawing helpers shared by the tool windows.
#include "ui/widgets.h"

#include <imgui.h>

#include <algorithm>

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

int ListTableFlags() {
    return ImGuiTableFlags_RowBg | ImGuiTableFlags_Borders | ImGuiTableFlags_SizingFixedFit;
}

}  // namespace qv
