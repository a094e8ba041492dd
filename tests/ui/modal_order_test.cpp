// Tool windows that appear while the file browser's modal popup is open: nothing aborts, the new
// window stays behind the browser and the browser keeps the input.
#include <gtest/gtest.h>

#include <string_view>
#include <thread>

#include "scene/camera_input.h"
#include "scene/playback_keys.h"
#include "scene/scene.h"
#include "tests/support/scene_models.h"
#include "tests/support/temp_file.h"
#include "tests/ui/interface_driver.h"
#include "ui/file_browser.h"
#include "ui/main_windows.h"
#include "ui/model_setting.h"

namespace qv {

namespace {

// Every window with a flag of its own, by its title.
struct FlaggedWindow {
    const char* title;
    bool UiState::*flag;
};
constexpr FlaggedWindow kFlaggedWindows[] = {
    {"Navigator", &UiState::showNavigator},
    {"Resource manager", &UiState::showResourceManager},
    {"About", &UiState::showAbout},
    {"Statistics", &UiState::showStatistics},
    {"Graphic setting", &UiState::showGraphicSetting},
    {"Physics setting", &UiState::showPhysicsSetting},
    {"Import resource status", &UiState::showImportStatus},
};

// The windows over a scene with one model and the browser in a folder with
// one model file, every flagged window closed.
class ModalOrderTest : public InterfaceSceneTest {
protected:
    ModalOrderTest() : browser_(folder_.path(), {"/"}) {
        EXPECT_EQ(AddSceneModel(scene_, "first"), S_OK);
        folder_.Write("a.pmx", "x");
        view_.fileBrowser = &browser_;
        view_.modelSetting = &modelSetting_;
        view_.actions.openFileBrowser = [this] { browser_.Open(); };
        for (const FlaggedWindow& w : kFlaggedWindows) {
            ui_.*w.flag = false;
        }
    }

    ImGuiWindow* Browser() const { return driver_.Window(browser_.popupLabel.c_str()); }
    bool BrowserOpen() const {
        const ImGuiWindow* browser = Browser();
        for (const ImGuiPopupData& popup : ImGui::GetCurrentContext()->OpenPopupStack) {
            if (browser != nullptr && popup.Window == browser) {
                return true;
            }
        }
        return false;
    }
    // Where a window is drawn among the others: later is in front.
    static int DisplayIndex(const ImGuiWindow* window) {
        const auto& windows = ImGui::GetCurrentContext()->Windows;
        return windows.index_from_ptr(windows.find(const_cast<ImGuiWindow*>(window)));
    }
    // A press and release on the middle of the window's title row, a frame
    // each; whether the window was hovered under the pointer.
    bool ClickOn(const ImGuiWindow* window) {
        ImGuiIO& io = driver_.Io();
        io.MousePos = ImVec2(window->Pos.x + window->Size.x * 0.5f, window->Pos.y + 8.0f);
        driver_.Frame();
        const bool hovered = ImGui::GetCurrentContext()->HoveredWindow == window;
        io.MouseDown[0] = true;
        driver_.Frame();
        io.MouseDown[0] = false;
        driver_.Frame();
        io.MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
        return hovered;
    }

    const TempFolder folder_;
    FileBrowser browser_;
};

// Each window but the overlay has a title bar whose close box clears its flag.
TEST_F(ModalOrderTest, EveryTitledWindowClosesByItsCloseBox) {
    for (const FlaggedWindow& w : kFlaggedWindows) {
        if (std::string_view(w.title) == "Statistics") {
            continue;
        }
        SCOPED_TRACE(w.title);
        ui_.*w.flag = true;
        driver_.Frames(2);
        ASSERT_TRUE(driver_.Click(w.title, InterfaceDriver::Id(w.title, {"#CLOSE"})));
        EXPECT_FALSE(ui_.*w.flag);
    }
}

// The browser and the other windows open in one frame, as when an import
// given at start opens its status window in the frame that `--show
// file-browser` opens the browser.
TEST_F(ModalOrderTest, WindowsFirstShownInTheFrameTheBrowserOpensAllAppear) {
    browser_.Open();
    for (const FlaggedWindow& w : kFlaggedWindows) {
        ui_.*w.flag = true;
    }
    OpenModelSetting(view_, 0);
    ui_.showModelSetting = true;
    driver_.Frames(2);
    EXPECT_TRUE(BrowserOpen());
    for (const FlaggedWindow& w : kFlaggedWindows) {
        EXPECT_NE(driver_.Window(w.title), nullptr) << w.title;
    }
    EXPECT_NE(driver_.Window("Model setting"), nullptr);
}

TEST_F(ModalOrderTest, AWindowFirstShownUnderTheOpenBrowserLeavesItTheInput) {
    browser_.Open();
    driver_.Frames(2);
    ASSERT_TRUE(BrowserOpen());
    for (const FlaggedWindow& w : kFlaggedWindows) {
        SCOPED_TRACE(w.title);
        ASSERT_EQ(driver_.Window(w.title), nullptr);
        ui_.*w.flag = true;
        driver_.Frames(2);
        const ImGuiWindow* shown = driver_.Window(w.title);
        ASSERT_NE(shown, nullptr);
        EXPECT_TRUE(shown->Active);
        // A window that takes the focus when it appears is put behind the
        // browser; the statistics overlay never takes it and stays where it
        // was drawn, clear of the centred browser.
        if ((shown->Flags & ImGuiWindowFlags_NoFocusOnAppearing) == 0) {
            EXPECT_LT(DisplayIndex(shown), DisplayIndex(Browser()));
        }
        EXPECT_FALSE(ClickOn(shown));
        EXPECT_TRUE(BrowserOpen());
        const ImGuiWindow* focused = ImGui::GetCurrentContext()->NavWindow;
        ASSERT_NE(focused, nullptr);
        EXPECT_EQ(focused->RootWindow, Browser());
    }
}

TEST_F(ModalOrderTest, TheModelSettingWindowAndAnImportStatusOpenedByAnImportAlsoWait) {
    browser_.Open();
    driver_.Frames(2);
    OpenModelSetting(view_, 0);
    ui_.showModelSetting = true;
    driver_.Frames(2);
    EXPECT_NE(driver_.Window("Model setting"), nullptr);
    // An import given at start that finishes while the user looks at the
    // browser: the scene update opens the status window.
    scene_.importer.Request({folder_.path() / "missing.pmx"});
    while (!scene_.importer.ResultsReady()) {
        std::this_thread::yield();
    }
    SceneUpdate();
    ASSERT_TRUE(ui_.showImportStatus);
    driver_.Frames(2);
    EXPECT_NE(driver_.Window("Import resource status"), nullptr);
    EXPECT_TRUE(BrowserOpen());
    // The browser still picks: a choice made now goes to the importer.
    for (std::uint32_t i = 0; i < browser_.entries.size(); ++i) {
        if (browser_.entries[i].name == "a.pmx") {
            browser_.Click(i, false, false);
        }
    }
    ASSERT_TRUE(browser_.Confirm());
    driver_.Frame();
    EXPECT_TRUE(scene_.importer.Busy());
}

TEST_F(ModalOrderTest, PlaybackKeysWaitWhileTheBrowserIsOpen) {
    browser_.Open();
    driver_.Frames(2);
    ASSERT_TRUE(BrowserOpen());
    // No field types in the browser, yet it keeps the keyboard.
    EXPECT_FALSE(driver_.Io().WantTextInput);
    InputEvent key;
    key.kind = InputKind::KeyDown;
    for (InputKey which : {InputKey::Space, InputKey::Home, InputKey::Left, InputKey::Right,
                           InputKey::L, InputKey::R}) {
        key.key = which;
        HandlePlaybackKeys(scene_, ui_, key, driver_.Io().WantCaptureKeyboard);
    }
    EXPECT_TRUE(ui_.requests.empty());
    // Closed, the same keys act again.
    const char* label = browser_.popupLabel.c_str();
    ASSERT_TRUE(driver_.Click(label, InterfaceDriver::Id(label, {"cancel"})));
    driver_.Frames(2);
    ASSERT_FALSE(BrowserOpen());
    key.key = InputKey::Space;
    HandlePlaybackKeys(scene_, ui_, key, driver_.Io().WantCaptureKeyboard);
    EXPECT_EQ(Asked(ui_, RequestKind::PressPlay).size(), 1u);
}

}  // namespace

}  // namespace qv
