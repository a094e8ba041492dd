// The resource manager's Accessory tab: each accessory's visibility, place, look and removal.
#include <imgui.h>

#include "scene/scene.h"
#include "ui/main_windows.h"
#include "ui/widgets.h"

namespace qv {

namespace {

constexpr const char* kWorld = "World";

// The model and bone combos; true when the choice changed.
bool DrawFollowCombos(const Scene& scene, AccessorySettings& s) {
    bool changed = false;
    const bool following = InRange(s.model, scene.models.size());
    const char* modelName =
        following ? scene.models[static_cast<std::size_t>(s.model)].entry.name.c_str() : kWorld;
    if (ImGui::BeginCombo("Follows", modelName)) {
        if (ImGui::Selectable(kWorld, !following)) {
            s.model = s.bone = -1;
            changed = true;
        }
        for (int m = 0; m < static_cast<int>(scene.models.size()); ++m) {
            ImGui::PushID(m);
            if (ImGui::Selectable(scene.models[static_cast<std::size_t>(m)].entry.name.c_str(),
                                  m == s.model)) {
                // A new model starts at its first bone, the root of most.
                changed |= m != s.model;
                s.bone = m != s.model ? 0 : s.bone;
                s.model = m;
            }
            ImGui::PopID();
        }
        ImGui::EndCombo();
    }
    if (!InRange(s.model, scene.models.size())) {
        return changed;
    }
    // The names made at import, clipped: an open list of hundreds of bones
    // draws only the rows in sight and converts none.
    const ModelUiEntry& entry = scene.models[static_cast<std::size_t>(s.model)].entry;
    if (const std::int32_t b = NameCombo("Bone", entry.boneNames, s.bone); b >= 0) {
        changed |= b != s.bone;
        s.bone = b;
    }
    return changed;
}

// One accessory's controls; true when the user changed any of them.
bool DrawAccessoryControls(const Scene& scene, AccessorySettings& s) {
    bool changed = ImGui::Checkbox("Show", &s.visible);
    changed |= DrawFollowCombos(scene, s);
    changed |= ImGui::DragFloat3("Position", &s.position.x, 0.05f);
    changed |= ImGui::DragFloat3("Rotation (degrees)", &s.rotationDegrees.x, 0.5f);
    changed |= ImGui::DragFloat("Scale", &s.scale, 0.01f, kMinAccessoryScale, 1000.0f, "%.3f",
                                ImGuiSliderFlags_AlwaysClamp);
    // Typed past either end it is held inside them, as the scene holds it.
    changed |=
        ImGui::SliderFloat("Opacity", &s.opacity, 0.0f, 1.0f, "%.3f", ImGuiSliderFlags_AlwaysClamp);
    return changed;
}

// A row's settings as the interface left them: the last edit queued this
// frame, else the scene's.
AccessorySettings PendingAccessorySettings(const UiState& ui, std::int32_t row,
                                           const AccessorySettings& current) {
    AccessorySettings pending = current;
    for (const AccessoryEdit& edit : ui.accessoryEdits) {
        if (edit.row == row) {
            pending = edit.settings;
        }
    }
    return pending;
}

}  // namespace

void DrawAccessoryTab(InterfaceView& view) {
    const Scene& scene = view.scene;
    if (!ImGui::TreeNodeEx("Accessory list", ImGuiTreeNodeFlags_DefaultOpen)) {
        return;
    }
    for (int row = 0; row < static_cast<int>(scene.accessories.size()); ++row) {
        const AccessoryRecord& accessory = scene.accessories[static_cast<std::size_t>(row)];
        ImGui::PushID(row);
        // Before the node, so that its id does not depend on the node being open.
        if (ImGui::SmallButton("Delete")) {
            view.ui.requests.push_back({RequestKind::DeleteAccessory, row});
        }
        ImGui::SameLine();
        if (ImGui::TreeNodeEx("##Accessory", ImGuiTreeNodeFlags_DefaultOpen, "%d  %s", row + 1,
                              accessory.name.c_str())) {
            // Edits made earlier this frame show at once; the scene takes
            // them at its next update.
            AccessorySettings s = PendingAccessorySettings(view.ui, row, accessory.settings);
            if (DrawAccessoryControls(scene, s)) {
                view.ui.accessoryEdits.push_back({row, s});
            }
            ImGui::TreePop();
        }
        ImGui::PopID();
    }
    ImGui::TreePop();
}

}  // namespace qv
