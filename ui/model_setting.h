// The model setting window: bones, IK switches, materials, morph weights and motions of one
// loaded model.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/interface_view.h"

namespace qv {

struct ModelUiEntry;

// Binds the window to model row `row`: the row's choices come back, the
// model's lists are copied. A row out of range leaves nothing bound.
void OpenModelSetting(InterfaceView& view, std::int32_t row);
// Draws the window; called only while its flag is set.
void DrawModelSetting(InterfaceView& view);

// "a.vmd, b.vmd." for {a.vmd, b.vmd}; empty for none.
std::string JoinMotionNames(const std::vector<std::string>& names);

// The window's actions, without drawing. Each acts on the bound model and
// does nothing when none is bound.
void ChooseYRotationBone(InterfaceView& view, std::int32_t bone);
void ChooseTransformBone(InterfaceView& view, std::int32_t bone);
void ChooseMaterial(InterfaceView& view, std::int32_t material);
// Every bone back to rest; the position field shows the transform bone's
// rest position.
void ResetAllBoneTransform(InterfaceView& view);
// Refused (false) while the model plays, or with no motion selected.
bool AddSelectedMotion(InterfaceView& view);
void ClearAllMotions(InterfaceView& view);

// The bound model's row, or null when nothing is bound (or the row no
// longer holds the bound model). The scene update changes it: the window
// asks through its edits.
const ModelUiEntry* BoundModelRow(const InterfaceView& view);

// The motion names the bound row will list once the scene update has
// carried out the window's pending edits.
std::vector<std::string> AddedMotionNames(const InterfaceView& view);

}  // namespace qv
