// Small drawing helpers shared by the tool windows.
#pragma once

#include <initializer_list>

namespace qv {

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

}  // namespace qv
