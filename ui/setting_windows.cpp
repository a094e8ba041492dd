// The graphic and physics setting windows: edit values saved as requests for the scene update.
#include <imgui.h>

#include <array>

#include "scene/anti_aliasing.h"
#include "scene/resolutions.h"
#include "scene/scene.h"
#include "ui/main_windows.h"
#include "ui/widgets.h"

namespace qv {

namespace {

constexpr std::array<const char*, kResolutions.size()> kResolutionNames{
    "1280x720", "1366x768", "1600x900", "1920x1080", "2560x1440", "3840x2160"};
constexpr std::array<const char*, 5> kAntiAliasingNames{"None", "FXAA Low", "FXAA High", "MSAA 4x",
                                                        "MSAA 8x"};
constexpr std::array<const char*, 4> kQualityNames{"Low", "Medium", "High", "Ultra"};

// The anti-aliasing list; MSAA 8x stays choosable where the device lacks it
// (it then draws as 4x) but is greyed with the reason in a tooltip.
void AntiAliasingCombo(int* choice, bool eightSamplesAvailable) {
    const int current =
        *choice >= 0 && *choice < static_cast<int>(kAntiAliasingNames.size()) ? *choice : 0;
    if (!ImGui::BeginCombo("Anti-aliasing", kAntiAliasingNames[current])) {
        return;
    }
    for (int i = 0; i < static_cast<int>(kAntiAliasingNames.size()); ++i) {
        const bool unavailable = i == kMsaa8x && !eightSamplesAvailable;
        if (unavailable) {
            ImGui::PushStyleColor(ImGuiCol_Text, ImGui::GetStyleColorVec4(ImGuiCol_TextDisabled));
        }
        if (ImGui::Selectable(kAntiAliasingNames[i], i == current)) {
            *choice = i;
        }
        if (unavailable) {
            ImGui::PopStyleColor();
            if (ImGui::IsItemHovered()) {
                ImGui::SetTooltip("Not available on this device: drawn as MSAA 4x");
            }
        }
    }
    ImGui::EndCombo();
}

void QualitySlider(const char* label, int* value) {
    const int shown = *value >= 0 && *value <= 3 ? *value : 0;
    ImGui::SliderInt(label, value, 0, 3, kQualityNames[shown]);
}

// Save asks the scene update to apply the edits, Cancel leaves them unsaved;
// either closes the window.
void SaveOrCancel(UiState& ui, RequestKind apply, bool& shown) {
    if (ImGui::Button("Save")) {
        ui.requests.push_back({apply});
        shown = false;
    }
    ImGui::SameLine();
    if (ImGui::Button("Cancel")) {
        shown = false;
    }
}

}  // namespace

void ApplyRayTracingEdit(UiState& ui) {
    if (ui.editRayTracing && IsMultisampled(ui.editAntiAliasing)) {
        ui.editAntiAliasing = kAntiAliasingNone;
    }
}

void DrawGraphicSetting(InterfaceView& view) {
    UiState& ui = view.ui;
    const InterfaceFacts& facts = view.facts;
    ImGui::SetNextWindowPos(ImVec2(350.0f, 150.0f), ImGuiCond_FirstUseEver);
    ImGui::SetNextWindowSize(ImVec2(500.0f, 350.0f), ImGuiCond_FirstUseEver);
    if (ImGui::Begin("Graphic setting", &ui.showGraphicSetting)) {
        KeepWindowOnScreen();
        ImGui::Text("Render device: %s", facts.renderDeviceName.c_str());
        if (!facts.rayTracingSupported) {
            ImGui::TextUnformatted("Ray Tracing is not supported.");
        }
        ImGui::Spacing();
        ImGui::Text("Current resolution:%ux%u", facts.clientWidth, facts.clientHeight);
        if (!ui.editFullscreen) {
            ImGui::Combo("Window resolution", &ui.editResolutionIndex, kResolutionNames.data(),
                         static_cast<int>(kResolutionNames.size()));
        }
        AntiAliasingCombo(&ui.editAntiAliasing, facts.msaa8xAvailable);
        if (facts.rayTracingSupported) {
            ImGui::Checkbox("Ray Tracing", &ui.editRayTracing);
        }
        if (ui.editRayTracing) {
            QualitySlider("Raytraced diffuse quality", &ui.editDiffuseQuality);
            QualitySlider("Raytraced shadow quality", &ui.editShadowQuality);
            ApplyRayTracingEdit(ui);
        }
        ImGui::Checkbox("Ground shadow", &ui.editGroundShadow);
        ImGui::Checkbox("VSync", &ui.editVSync);
        ImGui::Checkbox("Fullscreen", &ui.editFullscreen);
        ImGui::Checkbox("Show frame statistics", &ui.editShowStatistics);
        SaveOrCancel(ui, RequestKind::ApplyGraphics, ui.showGraphicSetting);
    }
    ImGui::End();
}

void DrawPhysicsSetting(InterfaceView& view) {
    UiState& ui = view.ui;
    ImGui::SetNextWindowPos(ImVec2(350.0f, 150.0f), ImGuiCond_FirstUseEver);
    ImGui::SetNextWindowSize(ImVec2(500.0f, 120.0f), ImGuiCond_FirstUseEver);
    if (ImGui::Begin("Physics setting", &ui.showPhysicsSetting)) {
        KeepWindowOnScreen();
        float gravity[3] = {ui.editGravity.x, ui.editGravity.y, ui.editGravity.z};
        if (ImGui::InputFloat3("Gravity", gravity, "%.3f")) {
            ui.editGravity = {gravity[0], gravity[1], gravity[2], 0.0f};
        }
        ImGui::InputFloat("Simulation step time", &ui.editStepTime, 0.0f, 0.0f, "%.5f");
        ImGui::SameLine();
        HelpMarker(
            "Simulation step time is in second.\nDefault is 60 steps/second (1/60 = 0.01667)");
        SaveOrCancel(ui, RequestKind::ApplyPhysics, ui.showPhysicsSetting);
    }
    ImGui::End();
}

}  // namespace qv
