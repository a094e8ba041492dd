// The windows that only inform: About, the statistics overlay and the import status.
#include <imgui.h>

#include <cfloat>
#include <string>

#include "platform/version.h"
#include "scene/scene.h"
#include "ui/main_windows.h"
#include "ui/widgets.h"

namespace qv {

void DrawAbout(InterfaceView& view) {
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->GetCenter(), ImGuiCond_FirstUseEver, ImVec2(0.5f, 0.5f));
    ImGui::SetNextWindowSize(ImVec2(0.0f, 0.0f), ImGuiCond_FirstUseEver);
    if (ImGui::Begin("About", &view.ui.showAbout)) {
        KeepWindowOnScreen();
        ImGui::TextUnformatted("QV ENGINE PROJECT:");
        ImGui::BulletText(
            "QV Engine is a realtime 3D render engine. Assets are not part of this program.");
        ImGui::BulletText(
            "PMX model and VMD motion are supported at the moment. More model and motion format "
            "will be supported in the future.");
        ImGui::BulletText("Made by the QV developers");
        ImGui::TextUnformatted("LIBRARIES & API:");
        ImGui::BulletText("3D: Vulkan 1.3");
        ImGui::BulletText("Physics: Bullet");
        ImGui::BulletText("UI: Dear ImGui %s", IMGUI_VERSION);
        ImGui::BulletText("Window, input and audio: SDL2");
        ImGui::BulletText("File browser: written for QV by the QV developers");
        ImGui::Dummy(ImVec2(0.0f, 10.0f));
        ImGui::Text("Version info: QVE development version %s build %s", kVersionMajor,
                    kVersionBuild);
        ImGui::Spacing();
        ImGui::TextUnformatted("Powered by QVFramework\n(c) 2024-2026 the QV developers");
    }
    ImGui::End();
}

void DrawStatistics(InterfaceView& view) {
    const ImGuiWindowFlags flags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                                   ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoScrollbar |
                                   ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_AlwaysAutoResize |
                                   ImGuiWindowFlags_NoSavedSettings |
                                   ImGuiWindowFlags_NoFocusOnAppearing | ImGuiWindowFlags_NoNav;
    ImGui::SetNextWindowPos(ImVec2(10.0f, 10.0f), ImGuiCond_Always);
    ImGui::SetNextWindowBgAlpha(0.35f);
    if (ImGui::Begin("Statistics", &view.ui.showStatistics, flags)) {
        ImGui::TextUnformatted("QV Engine Development");
        ImGui::Text("Version %s build %s", kVersionMajor, kVersionBuild);
        if (view.facts.rayTracingSupported) {
            ImGui::TextUnformatted(view.scene.render.rayTracing ? "RTX ON" : "RTX OFF");
        }
        ImGui::Text("FPS: %.2f (%.3f ms)", view.facts.framesPerSecond, view.facts.meanMilliseconds);
    }
    ImGui::End();
}

bool ImportProgressShown(float progress) {
    return progress > 0.0f && progress != 1.0f;
}

void DrawImportStatus(InterfaceView& view) {
    ImGui::SetNextWindowPos(ImVec2(770.0f, 620.0f), ImGuiCond_FirstUseEver);
    ImGui::SetNextWindowSize(ImVec2(500.0f, 90.0f), ImGuiCond_FirstUseEver);
    // It opens by itself when an import starts (a drop, say): while the user
    // types in a field it appears without taking the keyboard from it.
    const ImGuiWindowFlags flags =
        ImGui::GetIO().WantTextInput ? ImGuiWindowFlags_NoFocusOnAppearing : 0;
    if (ImGui::Begin("Import resource status", &view.ui.showImportStatus, flags)) {
        KeepWindowOnScreen();
        const std::string status = view.scene.importer.Status();
        ImGui::TextUnformatted(status.c_str());
        const float progress = view.scene.importer.Progress();
        if (ImportProgressShown(progress)) {
            ImGui::ProgressBar(progress, ImVec2(-FLT_MIN, 0.0f));
        }
    }
    ImGui::End();
}

}  // namespace qv
