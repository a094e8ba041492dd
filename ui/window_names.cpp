// The names `--show` opens windows by, for automation.
#include "ui/window_names.h"

#include <array>
#include <string_view>

#include "scene/ui_state.h"

namespace {

struct NamedWindow {
    std::string_view name;
    bool UiState::*flag;
};

constexpr std::array<NamedWindow, 7> kWindows{{
    {"navigator", &UiState::showNavigator},
    {"resources", &UiState::showResourceManager},
    {"graphics", &UiState::showGraphicSetting},
    {"physics", &UiState::showPhysicsSetting},
    {"about", &UiState::showAbout},
    {"statistics", &UiState::showStatistics},
    {"import-status", &UiState::showImportStatus},
}};

}  // namespace

const char* const kWindowNames =
    "navigator, resources, graphics, physics, about, statistics, import-status";

bool OpenWindowsByName(const std::string& list, UiState* ui, std::string* unknown) {
    std::string_view rest = list;
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        const std::string_view name = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
        if (name.empty()) {
            continue;
        }
        bool found = false;
        for (const NamedWindow& window : kWindows) {
            if (window.name == name) {
                ui->*window.flag = true;
                found = true;
            }
        }
        if (!found) {
            *unknown = std::string(name);
            return false;
        }
    }
    return true;
}
