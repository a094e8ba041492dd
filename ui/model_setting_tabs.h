// Tabs of the model setting window that live in files of their own.
#pragma once

#include "scene/ui_state.h"
#include "ui/interface_view.h"

namespace qv {

// Material select, the material's values and its shader.
void DrawMaterialTab(InterfaceView& view, ModelSettingState& state);

}  // namespace qv
