// The names `--show` opens windows by, for automation.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

struct UiState;

// The names, comma-separated, that OpenWindowsByName knows.
extern const char* const kWindowNames;

// The named windows that need more than a flag: the caller opens the file
// browser, and binds the model setting window to the first model once the
// start-up files are in.
struct ShownWindows {
    bool fileBrowser = false;
    bool modelSetting = false;
    // "model-setting:morph" and the like: the tab (ModelSettingTab) to show.
    std::int32_t modelSettingTab = -1;
};

// Opens each window of a comma-separated list ("navigator,resources").
// False, with the unknown name in `unknown`, when a name is not one of
// kWindowNames; windows named before it stay open.
bool OpenWindowsByName(const std::string& list, UiState* ui, std::string* unknown,
                       ShownWindows* shown = nullptr);

}  // namespace qv
