// The names `--show` opens windows by, for automation.
#pragma once

#include <string>

struct UiState;

// The names, comma-separated, that OpenWindowsByName knows.
extern const char* const kWindowNames;

// Opens each window of a comma-separated list ("navigator,resources").
// False, with the unknown name in `unknown`, when a name is not one of
// kWindowNames; windows named before it stay open.
bool OpenWindowsByName(const std::string& list, UiState* ui, std::string* unknown);
