// One frame of the tool windows, in the order they are drawn.
#include "scene/scene.h"
#include "ui/main_windows.h"

void DrawInterface(InterfaceView& view) {
    UiState& ui = view.ui;
    if (ui.showNavigator) {
        DrawNavigator(view);
    }
    if (ui.showResourceManager) {
        DrawResourceManager(view);
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
}
