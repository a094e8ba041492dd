// The model setting window's material tab: a material's colours and lighting values, and its
// shader.
#include <imgui.h>

#include "scene/scene.h"
#include "ui/model_setting.h"
#include "ui/model_setting_tabs.h"

namespace qv {

namespace {

bool ValueSlider(const char* label, float* value) {
    return ImGui::SliderFloat(label, value, 0.0f, 1.0f, "%.3f", ImGuiSliderFlags_AlwaysClamp);
}

// The values of the material, drawn from a copy; a change is checked and
// queued for the scene update, which hands it to the renderer between frames.
void DrawMaterialData(InterfaceView& view, ModelSettingState& state, const MaterialValues& live) {
    MaterialValues v = live;
    const bool rasterised = !view.scene.render.rayTracing;
    bool changed = false;
    changed |= ImGui::ColorEdit4("Base color", v.baseColor);
    changed |= ImGui::ColorEdit3("Specular color", v.specularColor);
    changed |= ImGui::InputFloat("Specular strength", &v.specularStrength, 0.01f, 1.0f, "%.3f");
    changed |= ImGui::ColorEdit3("Ambient color", v.ambientColor);
    if (rasterised) {
        changed |= ImGui::Checkbox("Draw Edge", &v.drawEdge);
        changed |= ImGui::InputFloat("Edge size", &v.edgeSize, 0.01f, 1.0f, "%.3f");
        changed |= ImGui::ColorEdit4("Edge color", v.edgeColor);
    }
    changed |= ImGui::ColorEdit3("Emission color", v.emissionColor);
    changed |= ValueSlider("Emission strength", &v.emissionStrength);
    changed |= ValueSlider("Metallic", &v.metallic);
    changed |= ValueSlider("Roughness", &v.roughness);
    changed |= ValueSlider("Reflective", &v.reflective);
    if (rasterised) {
        changed |= ImGui::Checkbox("Cast shadow", &v.castShadow);
    }
    changed |= ImGui::Checkbox("Receive shadow", &v.receiveShadow);
    if (changed) {
        SanitizeMaterialValues(v, live);
        ModelEdit edit;
        edit.kind = ModelEdit::Kind::Material;
        edit.index = state.materialIndex;
        edit.material = std::move(v);
        state.edits.push_back(std::move(edit));
    }
}

}  // namespace

void DrawMaterialTab(InterfaceView& view, ModelSettingState& state) {
    const Scene& scene = view.scene;
    const char* preview =
        InRange(state.materialIndex, state.materialNames.size())
            ? state.materialNames[static_cast<std::size_t>(state.materialIndex)].c_str()
            : "";
    if (ImGui::BeginCombo("Material select", preview)) {
        for (int i = 0; i < static_cast<int>(state.materialNames.size()); ++i) {
            ImGui::PushID(i);
            if (ImGui::Selectable(state.materialNames[static_cast<std::size_t>(i)].c_str(),
                                  i == state.materialIndex)) {
                ChooseMaterial(view, i);
            }
            if (i == state.materialIndex) {
                ImGui::SetItemDefaultFocus();
            }
            ImGui::PopID();
        }
        ImGui::EndCombo();
    }
    // The renderer's records change only between frames, so reading them here is safe.
    MaterialValues live;
    const bool known = state.materialIndex >= 0 && scene.hooks.readMaterial &&
                       scene.hooks.readMaterial(*state.model, state.materialIndex, &live);
    if (known && ImGui::TreeNodeEx("Material data", ImGuiTreeNodeFlags_DefaultOpen)) {
        DrawMaterialData(view, state, live);
        ImGui::TreePop();
    }
    if (scene.render.rayTracing || !ImGui::TreeNode("Shader")) {
        return;
    }
    ImGui::Text("Current shader: %s", known ? live.shaderName.c_str() : "");
    const auto& shaders = scene.shaders;
    const char* chosen =
        InRange(state.shaderSelectIndex, shaders.size())
            ? shaders[static_cast<std::size_t>(state.shaderSelectIndex)].entry.name.c_str()
            : "";
    if (ImGui::BeginCombo("Shader select", chosen)) {
        for (int i = 0; i < static_cast<int>(shaders.size()); ++i) {
            ImGui::PushID(i);
            if (ImGui::Selectable(shaders[static_cast<std::size_t>(i)].entry.name.c_str(),
                                  i == state.shaderSelectIndex)) {
                state.shaderSelectIndex = i;
            }
            ImGui::PopID();
        }
        ImGui::EndCombo();
    }
    if (state.materialIndex >= 0 && state.shaderSelectIndex >= 0 &&
        ImGui::Button("Use this shader")) {
        view.ui.requests.push_back({RequestKind::ApplyShader});
    }
    ImGui::TreePop();
}

}  // namespace qv
