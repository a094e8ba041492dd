// The file browser's modal window on Dear ImGui: drive combo, path buttons, the clipped listing,
// the filter combo and the confirm buttons.
#include <imgui.h>

#include <algorithm>
#include <optional>

#include "ui/file_browser.h"

namespace fs = std::filesystem;

namespace qv {

void FileBrowser::Draw() {
    if (openRequested) {
        ImGui::OpenPopup(popupLabel.c_str());
    }
    ImGui::SetNextWindowSize(ImVec2(static_cast<float>(width), static_cast<float>(height)),
                             ImGuiCond_FirstUseEver);
    if (!ImGui::BeginPopupModal(popupLabel.c_str(), nullptr, 0)) {
        openRequested = false;
        return;
    }
    const float fontSize = ImGui::GetFontSize();
    const ImGuiStyle& style = ImGui::GetStyle();
    ImGuiIO& io = ImGui::GetIO();
    // Folder changes wait until everything of this frame has been drawn
    // from the listing they would replace.
    std::optional<fs::path> target;

    // Drives: the combo is four font sizes wide, or as wide as the name of
    // the current one, which on this system is a folder path.
    const std::size_t current = drives.empty() ? 0 : CurrentDrive();
    const std::string preview =
        drives.empty() ? std::string() : DisplayName(drives[current].string());
    const float previewWidth = ImGui::CalcTextSize(preview.c_str()).x + ImGui::GetFrameHeight() +
                               style.FramePadding.x * 2.0f;
    ImGui::SetNextItemWidth(std::max(4.0f * fontSize, previewWidth));
    if (ImGui::BeginCombo("##select_drive", preview.c_str())) {
        for (std::size_t i = 0; i < drives.size(); ++i) {
            ImGui::PushID(static_cast<int>(i));
            if (ImGui::Selectable(DisplayName(drives[i].string()).c_str(), i == current)) {
                target = drives[i];
            }
            if (i == current) {
                ImGui::SetItemDefaultFocus();
            }
            ImGui::PopID();
        }
        ImGui::EndCombo();
    }

    // One small button per component of the current folder, "/" first.
    const auto buttons = PathButtons();
    for (std::size_t k = 0; k < buttons.size(); ++k) {
        ImGui::SameLine();
        ImGui::PushID(static_cast<int>(k));
        if (ImGui::SmallButton(buttons[k].first.c_str())) {
            target = buttons[k].second;
        }
        ImGui::PopID();
    }
    ImGui::SameLine();
    bool reload = ImGui::SmallButton("*");

    // The listing, clipped: only the rows in view cost anything, so a folder
    // of a hundred thousand files scrolls like a small one.
    std::optional<std::uint32_t> entered;
    const ImGuiSelectableFlags rowFlags =
        ImGuiSelectableFlags_DontClosePopups | ImGuiSelectableFlags_AllowDoubleClick;
    if (ImGui::BeginChild("##list", ImVec2(0.0f, -ImGui::GetFrameHeightWithSpacing()))) {
        ImGuiListClipper clipper;
        clipper.Begin(static_cast<int>(visible.size()));
        while (clipper.Step()) {
            for (int row = clipper.DisplayStart; row < clipper.DisplayEnd; ++row) {
                const std::uint32_t index = visible[static_cast<std::size_t>(row)];
                const FileEntry& entry = entries[index];
                ImGui::PushID(static_cast<int>(index));
                // The label is drawn as plain text: a name may hold "##",
                // which a widget label would take for an id.
                const ImVec2 at = ImGui::GetCursorScreenPos();
                const bool selected = selectedNames.contains(entry.name);
                if (ImGui::Selectable("##entry", selected, rowFlags)) {
                    Click(index, io.KeyCtrl, io.KeyShift);
                }
                if (ImGui::IsItemHovered() && ImGui::IsMouseDoubleClicked(ImGuiMouseButton_Left)) {
                    entered = index;
                }
                ImGui::GetWindowDrawList()->AddText(at, ImGui::GetColorU32(ImGuiCol_Text),
                                                    entry.label.data(),
                                                    entry.label.data() + entry.label.size());
                ImGui::PopID();
            }
        }
    }
    ImGui::EndChild();
    if (entered && *entered < entries.size()) {
        if (entries[*entered].isDirectory) {
            DoubleClick(*entered);
        } else if (DoubleClick(*entered)) {
            ImGui::CloseCurrentPopup();
        }
    }

    if (io.KeyCtrl && ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_A))) {
        SelectAll();
    }

    if (ImGui::Button(" ok ") && Confirm()) {
        ImGui::CloseCurrentPopup();
    }
    ImGui::SameLine();
    if (ImGui::Button("cancel")) {
        confirmed = false;
        ImGui::CloseCurrentPopup();
    }
    if (!statusText.empty()) {
        ImGui::SameLine();
        ImGui::TextUnformatted(statusText.c_str());
    }
    if (!filters.empty()) {
        ImGui::SameLine();
        ImGui::SetNextItemWidth(8.0f * fontSize);
        const char* shown = filterIndex < filters.size() ? filters[filterIndex].c_str() : "";
        if (ImGui::BeginCombo("##type_filters", shown)) {
            for (std::uint32_t i = 0; i < filters.size(); ++i) {
                ImGui::PushID(static_cast<int>(i));
                if (ImGui::Selectable(filters[i].c_str(), i == filterIndex)) {
                    SetFilterIndex(i);
                }
                ImGui::PopID();
            }
            ImGui::EndCombo();
        }
    }
    ImGui::EndPopup();
    openRequested = false;

    if (reload) {
        Reload();
    }
    if (target) {
        ChangeDirectory(*target);
    }
}

}  // namespace qv
