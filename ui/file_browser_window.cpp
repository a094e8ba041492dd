// The file browser's modal window on Dear ImGui: drive combo, path buttons, the clipped listing,
// the filter combo and the confirm buttons.
#include <imgui.h>

#include <algorithm>
#include <optional>

#include "ui/file_browser.h"

namespace fs = std::filesystem;

namespace qv {

namespace {

// Drives: the combo is four font sizes wide, or as wide as the name of the
// current one, which on this system is a folder path. A pick goes to target.
void DrawDriveCombo(const FileBrowser& browser, std::optional<fs::path>& target) {
    const auto& drives = browser.drives;
    const std::size_t current = drives.empty() ? 0 : browser.CurrentDrive();
    const std::string preview =
        drives.empty() ? std::string() : DisplayName(drives[current].string());
    const float previewWidth = ImGui::CalcTextSize(preview.c_str()).x + ImGui::GetFrameHeight() +
                               ImGui::GetStyle().FramePadding.x * 2.0f;
    ImGui::SetNextItemWidth(std::max(4.0f * ImGui::GetFontSize(), previewWidth));
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
}

// One small button per component of the current folder, "/" first; a click
// goes to target.
void DrawPathButtons(const FileBrowser& browser, std::optional<fs::path>& target) {
    const auto buttons = browser.PathButtons();
    for (std::size_t k = 0; k < buttons.size(); ++k) {
        ImGui::SameLine();
        ImGui::PushID(static_cast<int>(k));
        if (ImGui::SmallButton(buttons[k].first.c_str())) {
            target = buttons[k].second;
        }
        ImGui::PopID();
    }
}

// The listing, clipped: only the rows in view cost anything, so a folder of
// a hundred thousand files scrolls like a small one. Clicks select at once;
// the double-clicked entry, if any, is returned for after the listing.
std::optional<std::uint32_t> DrawListing(FileBrowser& browser) {
    const ImGuiIO& io = ImGui::GetIO();
    std::optional<std::uint32_t> entered;
    const ImGuiSelectableFlags rowFlags =
        ImGuiSelectableFlags_DontClosePopups | ImGuiSelectableFlags_AllowDoubleClick;
    if (ImGui::BeginChild("##list", ImVec2(0.0f, -ImGui::GetFrameHeightWithSpacing()))) {
        ImGuiListClipper clipper;
        clipper.Begin(static_cast<int>(browser.visible.size()));
        while (clipper.Step()) {
            for (int row = clipper.DisplayStart; row < clipper.DisplayEnd; ++row) {
                const std::uint32_t index = browser.visible[static_cast<std::size_t>(row)];
                const FileEntry& entry = browser.entries[index];
                ImGui::PushID(static_cast<int>(index));
                // The label is drawn as plain text: a name may hold "##",
                // which a widget label would take for an id.
                const ImVec2 at = ImGui::GetCursorScreenPos();
                const bool selected = browser.selectedNames.contains(entry.name);
                if (ImGui::Selectable("##entry", selected, rowFlags)) {
                    browser.Click(index, io.KeyCtrl, io.KeyShift);
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
    return entered;
}

// " ok ", "cancel", the status text and the filter combo, on one line.
void DrawBottomRow(FileBrowser& browser) {
    if (ImGui::Button(" ok ") && browser.Confirm()) {
        ImGui::CloseCurrentPopup();
    }
    ImGui::SameLine();
    if (ImGui::Button("cancel")) {
        browser.confirmed = false;
        ImGui::CloseCurrentPopup();
    }
    if (!browser.statusText.empty()) {
        ImGui::SameLine();
        ImGui::TextUnformatted(browser.statusText.c_str());
    }
    const auto& filters = browser.filters;
    if (!filters.empty()) {
        ImGui::SameLine();
        ImGui::SetNextItemWidth(8.0f * ImGui::GetFontSize());
        const char* shown =
            browser.filterIndex < filters.size() ? filters[browser.filterIndex].c_str() : "";
        if (ImGui::BeginCombo("##type_filters", shown)) {
            for (std::uint32_t i = 0; i < filters.size(); ++i) {
                ImGui::PushID(static_cast<int>(i));
                if (ImGui::Selectable(filters[i].c_str(), i == browser.filterIndex)) {
                    browser.SetFilterIndex(i);
                }
                ImGui::PopID();
            }
            ImGui::EndCombo();
        }
    }
}

}  // namespace

void FileBrowser::Draw() {
    if (openRequested) {
        ImGui::OpenPopup(popupLabel.c_str());
        openRequested = false;
    }
    ImGui::SetNextWindowSize(ImVec2(static_cast<float>(width), static_cast<float>(height)),
                             ImGuiCond_FirstUseEver);
    if (!ImGui::BeginPopupModal(popupLabel.c_str(), nullptr, 0)) {
        return;
    }
    // Folder changes wait until everything of this frame has been drawn
    // from the listing they would replace.
    std::optional<fs::path> target;
    DrawDriveCombo(*this, target);
    DrawPathButtons(*this, target);
    ImGui::SameLine();
    const bool reload = ImGui::SmallButton("*");

    const std::optional<std::uint32_t> entered = DrawListing(*this);
    if (entered && *entered < entries.size()) {
        if (entries[*entered].isDirectory) {
            DoubleClick(*entered);
        } else if (DoubleClick(*entered)) {
            ImGui::CloseCurrentPopup();
        }
    }
    if (ImGui::GetIO().KeyCtrl && ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_A))) {
        SelectAll();
    }
    DrawBottomRow(*this);
    ImGui::EndPopup();

    if (reload) {
        Reload();
    }
    if (target) {
        ChangeDirectory(*target);
    }
}

}  // namespace qv
