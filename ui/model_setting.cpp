// The model setting window: its binding, its frame and the bone, IK, morph and motion tabs.
#include "ui/model_setting.h"

#include <imgui.h>

#include <cmath>

#include "scene/scene.h"
#include "scene/scene_requests.h"
#include "ui/model_setting_tabs.h"
#include "ui/widgets.h"

namespace qv {

namespace {

// Queues an edit for the scene update, which alone changes the bound model;
// the caller fills in what its kind carries beyond the index.
ModelEdit& PushEdit(ModelSettingState& state, ModelEdit::Kind kind, std::int32_t index = -1) {
    ModelEdit& edit = state.edits.emplace_back();
    edit.kind = kind;
    edit.index = index;
    return edit;
}

// Choices still waiting in the edits win over the row's, which the scene
// update has not yet changed.
void TakePendingChoices(ModelSettingState& state) {
    for (const ModelEdit& edit : state.edits) {
        if (edit.kind == ModelEdit::Kind::ChooseYRotationBone) {
            state.yRotationBone = edit.index;
        } else if (edit.kind == ModelEdit::Kind::ChooseTransformBone) {
            state.transformBone = edit.index;
        } else if (edit.kind == ModelEdit::Kind::ChooseMaterial) {
            state.materialIndex = edit.index;
        }
    }
}

void DrawBoneTab(InterfaceView& view, ModelSettingState& state) {
    if (const std::int32_t k =
            NameCombo("Bone for Y rotation", state.boneNames, state.yRotationBone);
        k >= 0) {
        ChooseYRotationBone(view, k);
    }
    if (const std::int32_t k = NameCombo("Transform bone", state.boneNames, state.transformBone);
        k >= 0) {
        ChooseTransformBone(view, k);
    }
    if (state.transformBone >= 0 && state.transformBonePtr != nullptr) {
        const Vector4 before = state.localPositionEdit;
        if (ImGui::InputFloat3("local position", &state.localPositionEdit.x, "%.3f")) {
            Vector4& p = state.localPositionEdit;
            // A typed "nan" or "inf" would put the whole model out of sight.
            for (auto [value, previous] :
                 {std::pair{&p.x, before.x}, {&p.y, before.y}, {&p.z, before.z}}) {
                if (!std::isfinite(*value)) {
                    *value = previous;
                }
            }
            PushEdit(state, ModelEdit::Kind::BonePosition, state.transformBone).position = {
                p.x, p.y, p.z, 0.0f};
        }
    }
    if (ImGui::Button("Reset all bone transform")) {
        ResetAllBoneTransform(view);
    }
    if (ImGui::TreeNode("IK bone list")) {
        if (BeginListTable("ikTable", {"#", "Name", "IK solve enable"})) {
            for (int row = 0; row < static_cast<int>(state.ikControls.size()); ++row) {
                const IkControl& control = state.ikControls[static_cast<std::size_t>(row)];
                ImGui::PushID(row);
                NumberedListRow(row, control.name.c_str());
                // Shown from the live switch; the change reaches it between frames.
                bool enabled = control.ikEnabled != nullptr && *control.ikEnabled != 0;
                if (ImGui::Checkbox("##solveEnable", &enabled)) {
                    PushEdit(state, ModelEdit::Kind::IkSwitch, row).enabled = enabled;
                }
                ImGui::PopID();
            }
            ImGui::EndTable();
        }
        ImGui::TreePop();
    }
}

void DrawMorphTab(ModelSettingState& state) {
    if (ImGui::Button("Reset all morph")) {
        PushEdit(state, ModelEdit::Kind::ResetMorphs);
    }
    if (!BeginListTable("MorphWeightControlTable", {"#", "Name", "Type", "Value"})) {
        return;
    }
    // Models carry hundreds of morphs; only the rows in view are drawn.
    ImGuiListClipper clipper;
    clipper.Begin(static_cast<int>(state.morphControls.size()));
    while (clipper.Step()) {
        for (int row = clipper.DisplayStart; row < clipper.DisplayEnd; ++row) {
            const MorphControl& control = state.morphControls[static_cast<std::size_t>(row)];
            ImGui::PushID(row);
            NumberedListRow(row, control.name.c_str());
            ImGui::TextUnformatted(control.kind.c_str());
            ImGui::TableNextColumn();
            float weight = control.weight != nullptr ? *control.weight : 0.0f;
            ImGui::SetNextItemWidth(100.0f);
            if (ImGui::SliderFloat("##weight", &weight, 0.0f, 1.0f, "%.3f",
                                   ImGuiSliderFlags_AlwaysClamp)) {
                PushEdit(state, ModelEdit::Kind::MorphWeight, row).value = weight;
            }
            ImGui::PopID();
        }
    }
    ImGui::EndTable();
}

void DrawMotionTab(InterfaceView& view, ModelSettingState& state) {
    ImGui::Text("Added motions: %s", state.addedMotionsText.c_str());
    if (!state.addedMotionsText.empty() && ImGui::Button("Clear all motions")) {
        ClearAllMotions(view);
    }
    if (const std::int32_t k = NameCombo(
            "Motion select", view.scene.motions.size(),
            [&](std::size_t i) { return view.scene.motions[i].name.c_str(); },
            state.motionSelectIndex);
        k >= 0) {
        state.motionSelectIndex = k;
    }
    if (state.motionSelectIndex >= 0 && ImGui::Button("Add selected motion")) {
        AddSelectedMotion(view);
    }
}

}  // namespace

std::string JoinMotionNames(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += names[i];
        text += i + 1 < names.size() ? ", " : ".";
    }
    return text;
}

const ModelUiEntry* BoundModelRow(const InterfaceView& view) {
    if (view.modelSetting == nullptr) {
        return nullptr;
    }
    const ModelRecord* bound = BoundModel(view.scene, *view.modelSetting);
    return bound != nullptr ? &bound->entry : nullptr;
}

void OpenModelSetting(InterfaceView& view, std::int32_t row) {
    if (view.modelSetting == nullptr) {
        return;
    }
    ModelSettingState& state = *view.modelSetting;
    const Scene& scene = view.scene;
    // Edits made for the model bound so far still belong to it: they reach it
    // at the next scene update whichever model the window shows by then.
    std::vector<ModelEdit> pending = std::move(state.edits);
    std::vector<EarlierModelEdits> earlier = std::move(state.earlierEdits);
    const ModelInstance* previous = state.model;
    const std::int32_t previousRow = state.modelRow;
    state.Clear();
    const bool sameModel = InRange(row, scene.models.size()) &&
                           scene.models[static_cast<std::size_t>(row)].instance.get() == previous;
    if (sameModel) {
        state.edits = std::move(pending);
    } else if (!pending.empty()) {
        earlier.push_back({previousRow, previous, std::move(pending)});
    }
    state.earlierEdits = std::move(earlier);
    if (!InRange(row, scene.models.size())) {
        return;
    }
    const ModelInstance& model = *scene.models[static_cast<std::size_t>(row)].instance;
    const ModelUiEntry& entry = scene.models[static_cast<std::size_t>(row)].entry;
    state.modelRow = row;
    state.model = &model;
    state.yRotationBone = entry.yRotationBone;
    state.transformBone = entry.transformBone;
    state.materialIndex = entry.materialIndex;
    TakePendingChoices(state);
    state.boneNames = entry.boneNames;
    if (InRange(state.transformBone, model.bones.size())) {
        state.transformBonePtr = &model.bones[static_cast<std::size_t>(state.transformBone)];
        state.localPositionEdit = state.transformBonePtr->translation;
    }
    state.ikControls = model.ikControls;
    if (scene.hooks.materialNames) {
        state.materialNames = scene.hooks.materialNames(model);
    }
    state.addedMotionsText = JoinMotionNames(AddedMotionNames(view));
    state.morphControls = model.morphControls;
}

std::vector<std::string> AddedMotionNames(const InterfaceView& view) {
    const ModelUiEntry* row = BoundModelRow(view);
    if (row == nullptr) {
        return {};
    }
    std::vector<std::string> names = row->addedMotions;
    const auto& motions = view.scene.motions;
    for (const ModelEdit& edit : view.modelSetting->edits) {
        if (edit.kind == ModelEdit::Kind::ClearMotions) {
            names.clear();
        } else if (edit.kind == ModelEdit::Kind::AttachMotion &&
                   InRange(edit.index, motions.size())) {
            names.push_back(motions[static_cast<std::size_t>(edit.index)].name);
        }
    }
    return names;
}

void ChooseYRotationBone(InterfaceView& view, std::int32_t bone) {
    if (BoundModelRow(view) == nullptr) {
        return;
    }
    view.modelSetting->yRotationBone = bone;
    PushEdit(*view.modelSetting, ModelEdit::Kind::ChooseYRotationBone, bone);
}

void ChooseTransformBone(InterfaceView& view, std::int32_t bone) {
    if (BoundModelRow(view) == nullptr) {
        return;
    }
    ModelSettingState& state = *view.modelSetting;
    state.transformBone = bone;
    state.transformBonePtr = nullptr;
    if (InRange(bone, state.model->bones.size())) {
        state.transformBonePtr = &state.model->bones[static_cast<std::size_t>(bone)];
        state.localPositionEdit = state.transformBonePtr->translation;
    }
    PushEdit(state, ModelEdit::Kind::ChooseTransformBone, bone);
}

void ChooseMaterial(InterfaceView& view, std::int32_t material) {
    if (BoundModelRow(view) == nullptr) {
        return;
    }
    view.modelSetting->materialIndex = material;
    PushEdit(*view.modelSetting, ModelEdit::Kind::ChooseMaterial, material);
}

void ResetAllBoneTransform(InterfaceView& view) {
    if (BoundModelRow(view) == nullptr) {
        return;
    }
    ModelSettingState& state = *view.modelSetting;
    PushEdit(state, ModelEdit::Kind::ResetBones);
    // What the bone's position becomes once the reset is applied.
    if (state.transformBonePtr != nullptr) {
        state.localPositionEdit = state.transformBonePtr->restOffset;
    }
}

bool AddSelectedMotion(InterfaceView& view) {
    if (BoundModelRow(view) == nullptr) {
        return false;
    }
    ModelSettingState& state = *view.modelSetting;
    if (state.model->playing != 0 || !InRange(state.motionSelectIndex, view.scene.motions.size())) {
        return false;
    }
    PushEdit(state, ModelEdit::Kind::AttachMotion, state.motionSelectIndex);
    state.addedMotionsText = JoinMotionNames(AddedMotionNames(view));
    return true;
}

void ClearAllMotions(InterfaceView& view) {
    if (BoundModelRow(view) == nullptr) {
        return;
    }
    ModelSettingState& state = *view.modelSetting;
    PushEdit(state, ModelEdit::Kind::ClearMotions);
    state.motionSelectIndex = -1;
    state.addedMotionsText.clear();
}

void DrawModelSetting(InterfaceView& view) {
    ImGui::SetNextWindowPos(ImVec2(350.0f, 310.0f), ImGuiCond_FirstUseEver);
    ImGui::SetNextWindowSize(ImVec2(600.0f, 300.0f), ImGuiCond_FirstUseEver);
    if (ImGui::Begin("Model setting", &view.ui.showModelSetting)) {
        KeepWindowOnScreen();
        if (const ModelUiEntry* row = BoundModelRow(view); row != nullptr) {
            ModelSettingState& state = *view.modelSetting;
            ImGui::Text("Selected model: %s", row->name.c_str());
            ImGui::Dummy(ImVec2(0.0f, 10.0f));
            ImGui::Separator();
            ImGui::Spacing();
            if (ImGui::BeginTabBar("ModelSettingTabs")) {
                const auto flags = [&state](std::int32_t tab) {
                    return state.tabRequest == tab ? ImGuiTabItemFlags_SetSelected : 0;
                };
                if (ImGui::BeginTabItem("General", nullptr, flags(kModelSettingGeneral))) {
                    ImGui::EndTabItem();
                }
                if (ImGui::BeginTabItem("Bone", nullptr, flags(kModelSettingBone))) {
                    DrawBoneTab(view, state);
                    ImGui::EndTabItem();
                }
                if (ImGui::BeginTabItem("Material", nullptr, flags(kModelSettingMaterial))) {
                    DrawMaterialTab(view, state);
                    ImGui::EndTabItem();
                }
                if (ImGui::BeginTabItem("Morph", nullptr, flags(kModelSettingMorph))) {
                    DrawMorphTab(state);
                    ImGui::EndTabItem();
                }
                if (ImGui::BeginTabItem("Motion", nullptr, flags(kModelSettingMotion))) {
                    DrawMotionTab(view, state);
                    ImGui::EndTabItem();
                }
                ImGui::EndTabBar();
                state.tabRequest = -1;
            }
        }
    }
    ImGui::End();
}

}  // namespace qv
