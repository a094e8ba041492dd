// The tool windows not tied to one model: navigator, resources, settings, about, statistics, import
// status.
#pragma once

#include "ui/interface_view.h"

namespace qv {

class ImportWorker;

// One frame of every open tool window, in drawing order. The caller has
// started the Dear ImGui frame and ends it afterwards.
void DrawInterface(InterfaceView& view);

// The file browser's confirmed choice goes to the import thread as one
// batch, and the browser's selection is cleared. False when nothing was
// confirmed, or while an earlier batch still runs (the choice then waits).
bool HandOverBrowserSelection(FileBrowser& browser, ImportWorker& importer);

// Each draws one window; called only while the window's flag is set.
void DrawNavigator(InterfaceView& view);
void DrawResourceManager(InterfaceView& view);
void DrawGraphicSetting(InterfaceView& view);
void DrawPhysicsSetting(InterfaceView& view);
void DrawAbout(InterfaceView& view);
void DrawStatistics(InterfaceView& view);
void DrawImportStatus(InterfaceView& view);

// The navigator's buttons, without drawing. Import refuses while files
// still wait for import (false then).
bool OpenImport(InterfaceView& view);
// Copy the live settings into the edit values, then open the window.
void OpenGraphicSetting(InterfaceView& view);
void OpenPhysicsSetting(InterfaceView& view);

// A model row's Delete: acts only while the row's Select box is ticked,
// unticks it and asks the scene update to remove the model.
void RequestModelDelete(InterfaceView& view, std::int32_t row);

// The Accessory tab of the resource manager. A changed control queues the
// row's whole settings in ui.accessoryEdits; Delete queues a request.
void DrawAccessoryTab(InterfaceView& view);
// The import status shows its progress bar only while a batch runs: above
// 0 and not yet exactly 1.
bool ImportProgressShown(float progress);
// The Ray Tracing box of the graphic setting: multisampling and ray tracing
// are not combined, so an MSAA choice falls back to none.
void ApplyRayTracingEdit(UiState& ui);

}  // namespace qv
