// Small drawing helpers shared by the tool windows.
#pragma once

#include <imgui.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "scene/content_rows.h"

namespace qv {

struct InterfaceView;

// A greyed "(?)" that shows `text` in a tooltip, wrapped at 35 font sizes.
void HelpMarker(const char* text);

// Moves the current window back inside the display when it lies partly
// outside (a small or shrunk window): the whole window where it fits, else
// its top-left corner, so that its title bar can always be reached.
void KeepWindowOnScreen();

// Begins a list table of `columns` with a header row, styled as every list of
// the tool windows is; when it returns true the caller ends it with
// ImGui::EndTable.
bool BeginListTable(const char* id, std::initializer_list<const char*> columns);

// Starts the row of list entry `row` (counted from 0): its number from 1 and
// `name` in the first two columns, leaving the third current. Inside the
// caller's ImGui::PushID(row), so that equal names keep their own widgets.
void NumberedListRow(int row, const char* name);

// A combo over `count` names, `nameOf(i)` giving the i-th, whose current
// entry is highlighted and takes the focus; the chosen index, or -1 when
// nothing was chosen this frame. The names are read in place: drawing a
// frame copies none of them.
template <typename NameOf>
std::int32_t NameCombo(const char* label, std::size_t count, NameOf nameOf, std::int32_t current) {
    std::int32_t chosen = -1;
    const bool valid = InRange(current, count);
    if (ImGui::BeginCombo(label, valid ? nameOf(static_cast<std::size_t>(current)) : "")) {
        ImGuiListClipper clipper;
        clipper.Begin(static_cast<int>(count));
        if (valid) {
            clipper.ForceDisplayRangeByIndices(current, current + 1);
        }
        while (clipper.Step()) {
            for (int i = clipper.DisplayStart; i < clipper.DisplayEnd; ++i) {
                ImGui::PushID(i);
                if (ImGui::Selectable(nameOf(static_cast<std::size_t>(i)), i == current)) {
                    chosen = i;
                }
                if (i == current) {
                    ImGui::SetItemDefaultFocus();
                }
                ImGui::PopID();
            }
        }
        ImGui::EndCombo();
    }
    return chosen;
}

// The play button, its label the play state's, its id `id` ("###..."):
// one id whatever the label reads, so the press is one click. A press
// queues PressPlay.
void DrawPlayButton(InterfaceView& view, const char* id);

// NameCombo over a list of names.
std::int32_t NameCombo(const char* label, const std::vector<std::string>& names,
                       std::int32_t current);

}  // namespace qv
