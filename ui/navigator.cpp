// The navigator: the entry point to every other window.
#include <imgui.h>

#include <cfloat>

#include "scene/scene.h"
#include "ui/main_windows.h"
#include "ui/widgets.h"

namespace qv {

namespace {

bool FullWidthButton(const char* label) {
    return ImGui::Button(label, ImVec2(-FLT_MIN, 0.0f));
}

}  // namespace

bool OpenImport(InterfaceView& view) {
    if (view.scene.importer.Busy()) {
        return false;
    }
    view.ui.showImportStatus = false;
    view.scene.importer.ClearStatus();
    if (view.actions.openFileBrowser) {
        view.actions.openFileBrowser();
    }
    return true;
}

void OpenGraphicSetting(InterfaceView& view) {
    UiState& ui = view.ui;
    const Scene& scene = view.scene;
    ui.editResolutionIndex = scene.render.resolutionIndex;
    ui.editAntiAliasing = scene.render.antiAliasing;
    ui.editRayTracing = scene.render.rayTracing;
    ui.editDiffuseQuality = scene.render.diffuseQuality;
    ui.editShadowQuality = scene.render.shadowQuality;
    ui.editVSync = view.facts.vsync;
    ui.editFullscreen = scene.render.fullscreen;
    ui.editShowStatistics = scene.render.showStatistics;
    ui.editGroundShadow = scene.render.groundShadow;
    ui.showGraphicSetting = true;
}

void OpenPhysicsSetting(InterfaceView& view) {
    // Read without the world's lock: the physics step runs on the main
    // thread, never while the interface stage draws.
    view.ui.editGravity = view.scene.physics->Gravity();
    view.ui.editStepTime = view.scene.physics->stepSeconds;
    view.ui.showPhysicsSetting = true;
}

void DrawNavigator(InterfaceView& view) {
    UiState& ui = view.ui;
    ImGui::SetNextWindowPos(ImVec2(10.0f, 120.0f), ImGuiCond_FirstUseEver);
    ImGui::SetNextWindowSize(ImVec2(300.0f, 0.0f), ImGuiCond_FirstUseEver);
    if (ImGui::Begin("Navigator", &ui.showNavigator)) {
        KeepWindowOnScreen();
        ImGui::TextUnformatted("F1 for showing/hiding navigator");
        if (ImGui::TreeNodeEx("Asset", ImGuiTreeNodeFlags_DefaultOpen)) {
            ImGui::BeginDisabled(view.scene.importer.Busy());
            if (FullWidthButton("Import")) {
                OpenImport(view);
            }
            ImGui::EndDisabled();
            ImGui::TreePop();
        }
        if (ImGui::TreeNodeEx("Manager", ImGuiTreeNodeFlags_DefaultOpen)) {
            if (FullWidthButton("Resource Manager")) {
                ui.showResourceManager = true;
            }
            ImGui::TreePop();
        }
        if (ImGui::TreeNodeEx("Setting", ImGuiTreeNodeFlags_DefaultOpen)) {
            if (FullWidthButton("Graphic")) {
                OpenGraphicSetting(view);
            }
            if (FullWidthButton("Physics")) {
                OpenPhysicsSetting(view);
            }
            ImGui::TreePop();
        }
        if (ImGui::TreeNodeEx("Information", ImGuiTreeNodeFlags_DefaultOpen)) {
            if (FullWidthButton("About")) {
                ui.showAbout = true;
            }
            ImGui::TreePop();
        }
    }
    ImGui::End();
}

}  // namespace qv
