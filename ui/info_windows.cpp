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

namespace {

// The GPU time of each pass, a line each, in columns beside the figures
// above and no taller than they are: the Navigator opens just below.
void DrawPassFigures(const InterfaceFacts& facts, int rows) {
    for (std::uint32_t first = 0; first < facts.gpuPassCount;
         first += static_cast<std::uint32_t>(rows)) {
        ImGui::SameLine(0.0f, 2.0f * ImGui::GetStyle().ItemSpacing.x);
        ImGui::BeginGroup();
        for (std::uint32_t i = first;
             i < facts.gpuPassCount && i < first + static_cast<std::uint32_t>(rows); ++i) {
            const GpuPassFigure& pass = facts.gpuPasses[i];
            ImGui::Text("GPU %s: %.3f ms", pass.name, pass.milliseconds);
        }
        ImGui::EndGroup();
    }
}

}  // namespace

void DrawStatistics(InterfaceView& view) {
    const ImGuiWindowFlags flags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                                   ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoScrollbar |
                                   ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_AlwaysAutoResize |
                                   ImGuiWindowFlags_NoSavedSettings |
                                   ImGuiWindowFlags_NoFocusOnAppearing | ImGuiWindowFlags_NoNav;
    ImGui::SetNextWindowPos(ImVec2(10.0f, 10.0f), ImGuiCond_Always);
    ImGui::SetNextWindowBgAlpha(0.35f);
    if (ImGui::Begin("Statistics", &view.ui.showStatistics, flags)) {
        ImGui::BeginGroup();
        int rows = 3;
        ImGui::TextUnformatted("QV Engine Development");
        ImGui::Text("Version %s build %s", kVersionMajor, kVersionBuild);
        if (view.facts.rayTracingSupported) {
            ImGui::TextUnformatted(view.scene.render.rayTracing ? "RTX ON" : "RTX OFF");
            ++rows;
        }
        ImGui::Text("FPS: %.2f (%.3f ms)", view.facts.framesPerSecond, view.facts.meanMilliseconds);
        ImGui::EndGroup();
        DrawPassFigures(view.facts, rows);
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
