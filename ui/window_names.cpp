// The names `--show` opens windows by, for automation.
#include "ui/window_names.h"

#include <array>
#include <string_view>

#include "scene/ui_state.h"

namespace qv {

namespace {

struct NamedWindow {
    std::string_view name;
    bool UiState::*flag;
};

constexpr std::array<NamedWindow, 9> kWindows{{
    {"navigator", &UiState::showNavigator},
    {"resources", &UiState::showResourceManager},
    {"graphics", &UiState::showGraphicSetting},
    {"physics", &UiState::showPhysicsSetting},
    {"about", &UiState::showAbout},
    {"statistics", &UiState::showStatistics},
    {"import-status", &UiState::showImportStatus},
    {"model-setting", &UiState::showModelSetting},
    {"file-browser", nullptr},  // opened through the browser itself
}};

// The model setting window's tabs by name, in ModelSettingTab order.
constexpr std::array<std::string_view, 5> kTabs{"general", "bone", "material", "morph", "motion"};

}  // namespace

const char* const kWindowNames =
    "navigator, resources, graphics, physics, about, statistics, import-status, model-setting "
    "(or model-setting:bone, :material, :morph, :motion), file-browser";

bool OpenWindowsByName(const std::string& list, UiState* ui, std::string* unknown,
                       ShownWindows* shown) {
    std::string_view rest = list;
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        std::string_view name = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
        if (name.empty()) {
            continue;
        }
        std::int32_t tab = -1;
        if (name.starts_with("model-setting:")) {
            const std::string_view tabName = name.substr(name.find(':') + 1);
            for (std::int32_t i = 0; i < static_cast<std::int32_t>(kTabs.size()); ++i) {
                if (kTabs[static_cast<std::size_t>(i)] == tabName) {
                    tab = i;
                }
            }
            if (tab < 0) {
                *unknown = std::string(name);
                return false;
            }
            name = "model-setting";
        }
        bool found = false;
        for (const NamedWindow& window : kWindows) {
            if (window.name == name) {
                if (window.flag != nullptr) {
                    ui->*window.flag = true;
                }
                found = true;
            }
        }
        if (!found) {
            *unknown = std::string(name);
            return false;
        }
        if (shown != nullptr) {
            shown->fileBrowser |= name == "file-browser";
            shown->modelSetting |= name == "model-setting";
            if (tab >= 0) {
                shown->modelSettingTab = tab;
            }
        }
    }
    return true;
}

}  // namespace qv
