// Small drawing helpers shared by the tool windows.
#pragma once

namespace qv {

// A greyed "(?)" that shows `text` in a tooltip, wrapped at 35 font sizes.
void HelpMarker(const char* text);

// Moves the current window back inside the display when it lies partly
// outside (a small or shrunk window): the whole window where it fits, else
// its top-left corner, so that its title bar can always be reached.
void KeepWindowOnScreen();

// Table flags every list of the tool windows uses.
int ListTableFlags();

}  // namespace qv
