// One frame of the tool windows, in the order they are drawn.
#include "scene/scene.h"
#include "ui/file_browser.h"
#include "ui/main_windows.h"
#include "ui/model_setting.h"
#include "ui/playback_bar.h"

namespace qv {

bool HandOverBrowserSelection(FileBrowser& browser, ImportWorker& importer) {
    if (!browser.IsConfirmed()) {
        return false;
    }
    // A batch that started meanwhile (a drop) keeps the choice waiting:
    // the selection stays confirmed and goes with the next frame.
    if (!importer.Request(browser.GetSelectedPaths())) {
        return false;
    }
    browser.ClearSelection();
    return true;
}

void DrawInterface(InterfaceView& view) {
    UiState& ui = view.ui;
    // First, so every tool window lies over it.
    if (ui.showPlaybackBar) {
        DrawPlaybackBar(view);
    }
    if (ui.showNavigator) {
        DrawNavigator(view);
    }
    if (ui.showResourceManager) {
        DrawResourceManager(view);
    }
    if (ui.showModelSetting && view.modelSetting != nullptr) {
        DrawModelSetting(view);
    }
    if (ui.showAbout) {
        DrawAbout(view);
    }
    if (ui.showStatistics) {
        DrawStatistics(view);
    }
    if (ui.showGraphicSetting) {
        DrawGraphicSetting(view);
    }
    if (ui.showPhysicsSetting) {
        DrawPhysicsSetting(view);
    }
    if (ui.showImportStatus) {
        DrawImportStatus(view);
    }
    // The browser's modal popup comes after every other window, whatever
    // opens in this frame. The Dear ImGui this links against aborts when a
    // window is created after a modal that opened in the same frame (an
    // import status that appears as the browser opens, say); windows begun
    // before the modal are put behind it instead and leave it the input.
    if (view.fileBrowser != nullptr) {
        view.fileBrowser->Draw();
        HandOverBrowserSelection(*view.fileBrowser, view.scene.importer);
    }
}

}  // namespace qv
