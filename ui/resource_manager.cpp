// The resource manager: play control, and the lists of models, motions, songs and shaders.
#include <imgui.h>

#include "scene/scene.h"
#include "ui/main_windows.h"
#include "ui/widgets.h"

namespace qv {

namespace {

const char* PlayStateText(PlayState state) {
    switch (state) {
        case PlayState::Playing:
            return "playing";
        case PlayState::Paused:
            return "paused";
        case PlayState::Stopped:
            break;
    }
    return "stopped";
}

void DrawModelTab(InterfaceView& view) {
    if (!ImGui::TreeNodeEx("Model list", ImGuiTreeNodeFlags_DefaultOpen)) {
        return;
    }
    if (ImGui::BeginTable("ModelListTable", 6, ListTableFlags())) {
        for (const char* column : {"Select", "#", "Name", "English name", "Physic", "Action"}) {
            ImGui::TableSetupColumn(column);
        }
        ImGui::TableHeadersRow();
        auto& entries = view.scene.modelEntries;
        for (int row = 0; row < static_cast<int>(entries.size()); ++row) {
            ModelUiEntry& entry = entries[row];
            ImGui::PushID(row);
            ImGui::TableNextRow();
            ImGui::TableNextColumn();
            ImGui::Checkbox("##Select", &entry.selected);
            ImGui::TableNextColumn();
            ImGui::Text("%d", row + 1);
            ImGui::TableNextColumn();
            ImGui::TextUnformatted(entry.name.c_str());
            ImGui::TableNextColumn();
            ImGui::TextUnformatted(entry.englishName.c_str());
            ImGui::TableNextColumn();
            if (ImGui::Checkbox("##PhysicOn", &entry.physicsOn)) {
                view.ui.physicsToggledIndex = row;
            }
            ImGui::TableNextColumn();
            if (ImGui::Button("Model setting") && view.actions.openModelSetting) {
                view.actions.openModelSetting(row);
            }
            ImGui::SameLine();
            if (ImGui::Button("Delete")) {
                RequestModelDelete(view, row);
            }
            ImGui::PopID();
        }
        ImGui::EndTable();
    }
    ImGui::TreePop();
}

// The motion whose camera keys drive the camera while playing; "None"
// leaves the camera to the mouse.
void DrawCameraMotionCombo(Scene& scene) {
    const auto& names = scene.motionNames;
    const int chosen = scene.cameraMotion;
    const bool valid = chosen >= 0 && chosen < static_cast<int>(names.size());
    if (ImGui::BeginCombo("Camera motion", valid ? names[chosen].c_str() : "None")) {
        if (ImGui::Selectable("None", !valid)) {
            scene.cameraMotion = -1;
        }
        for (int i = 0; i < static_cast<int>(names.size()); ++i) {
            ImGui::PushID(i);
            if (ImGui::Selectable(names[i].c_str(), i == chosen)) {
                scene.cameraMotion = i;
            }
            ImGui::PopID();
        }
        ImGui::EndCombo();
    }
}

void DrawMotionTab(InterfaceView& view) {
    DrawCameraMotionCombo(view.scene);
    if (!ImGui::TreeNodeEx("Motion list", ImGuiTreeNodeFlags_DefaultOpen)) {
        return;
    }
    if (ImGui::BeginTable("MotionListTable", 3, ListTableFlags())) {
        for (const char* column : {"#", "Name", "Action"}) {
            ImGui::TableSetupColumn(column);
        }
        ImGui::TableHeadersRow();
        const auto& names = view.scene.motionNames;
        for (int row = 0; row < static_cast<int>(names.size()); ++row) {
            ImGui::PushID(row);
            ImGui::TableNextRow();
            ImGui::TableNextColumn();
            ImGui::Text("%d", row + 1);
            ImGui::TableNextColumn();
            ImGui::TextUnformatted(names[row].c_str());
            ImGui::TableNextColumn();
            if (ImGui::Button("Delete")) {
                view.ui.deleteMotionIndex = row;
            }
            ImGui::PopID();
        }
        ImGui::EndTable();
    }
    ImGui::TreePop();
}

void DrawSongTab(InterfaceView& view) {
    if (!ImGui::TreeNodeEx("Song list", ImGuiTreeNodeFlags_DefaultOpen)) {
        return;
    }
    Scene& scene = view.scene;
    if (ImGui::BeginTable("songListTable", 3, ListTableFlags())) {
        for (const char* column : {"#", "Name", "Action"}) {
            ImGui::TableSetupColumn(column);
        }
        ImGui::TableHeadersRow();
        for (int row = 0; row < static_cast<int>(scene.songNames.size()); ++row) {
            ImGui::PushID(row);
            ImGui::TableNextRow();
            ImGui::TableNextColumn();
            ImGui::Text("%d", row + 1);
            ImGui::TableNextColumn();
            ImGui::TextUnformatted(scene.songNames[row].c_str());
            ImGui::TableNextColumn();
            if (row != scene.selectedSong) {
                if (ImGui::Button("Select this song")) {
                    SelectSong(scene, view.ui, row);
                }
                ImGui::SameLine();
            }
            if (ImGui::Button("Delete")) {
                view.ui.deleteSongIndex = row;
            }
            ImGui::PopID();
        }
        ImGui::EndTable();
    }
    ImGui::TreePop();
}

void DrawShaderTab(InterfaceView& view) {
    Scene& scene = view.scene;
    if (scene.rayTracing) {
        ImGui::TextUnformatted("-Raytraced diffuse/shadow/reflection");
        ImGui::TextUnformatted(
            "-Reflection is configured by material specular color and reflective");
        const auto& names = scene.rayTracingShaderNames;
        const int selected = scene.selectedRayTracingShader;
        const bool valid = selected >= 0 && selected < static_cast<int>(names.size());
        if (ImGui::BeginCombo("Raytracing shader selection",
                              valid ? names[selected].c_str() : "")) {
            for (int i = 0; i < static_cast<int>(names.size()); ++i) {
                if (ImGui::Selectable(names[i].c_str(), i == selected)) {
                    scene.selectedRayTracingShader = i;
                }
            }
            ImGui::EndCombo();
        }
        return;
    }
    HelpMarker(
        "Default shader will be used when you load new model.\nVertex shader function name: "
        "VS\nPixel shader function name: PS");
    ImGui::SameLine();
    const auto& entries = scene.shaderEntries;
    const bool hasDefault =
        scene.defaultShader >= 0 && scene.defaultShader < static_cast<int>(entries.size());
    ImGui::Text("Default shader: %s", hasDefault ? entries[scene.defaultShader].name.c_str() : "");
    if (!ImGui::TreeNodeEx("shader list", ImGuiTreeNodeFlags_DefaultOpen)) {
        return;
    }
    if (ImGui::BeginTable("shaderListTable", 3, ListTableFlags())) {
        for (const char* column : {"#", "Name", "Action"}) {
            ImGui::TableSetupColumn(column);
        }
        ImGui::TableHeadersRow();
        for (int row = 0; row < static_cast<int>(entries.size()); ++row) {
            ImGui::PushID(row);
            ImGui::TableNextRow();
            ImGui::TableNextColumn();
            ImGui::Text("%d", row + 1);
            ImGui::TableNextColumn();
            ImGui::TextUnformatted(entries[row].name.c_str());
            ImGui::TableNextColumn();
            if (row != scene.defaultShader) {
                if (ImGui::Button("Set as default")) {
                    scene.defaultShader = row;
                }
            }
            if (!entries[row].builtIn) {
                if (row != scene.defaultShader) {
                    ImGui::SameLine();
                }
                if (ImGui::Button("Delete")) {
                    view.ui.deleteShaderIndex = row;
                }
            }
            ImGui::PopID();
        }
        ImGui::EndTable();
    }
    ImGui::TreePop();
}

}  // namespace

void RequestModelDelete(InterfaceView& view, std::int32_t row) {
    auto& entries = view.scene.modelEntries;
    if (row < 0 || row >= static_cast<std::int32_t>(entries.size()) || !entries[row].selected) {
        return;
    }
    entries[row].selected = false;
    view.ui.deleteModelIndex = row;
}

void DrawResourceManager(InterfaceView& view) {
    Scene& scene = view.scene;
    ImGui::SetNextWindowPos(ImVec2(670.0f, 10.0f), ImGuiCond_FirstUseEver);
    ImGui::SetNextWindowSize(ImVec2(600.0f, 320.0f), ImGuiCond_FirstUseEver);
    if (ImGui::Begin("Resource manager", &view.ui.showResourceManager)) {
        KeepWindowOnScreen();
        ImGui::TextUnformatted("Playing status:");
        ImGui::SameLine();
        ImGui::TextUnformatted(PlayStateText(scene.playState));
        const bool hasSong = scene.selectedSong >= 0 &&
                             scene.selectedSong < static_cast<int>(scene.songNames.size());
        ImGui::Text("Selected song: %s",
                    hasSong ? scene.songNames[scene.selectedSong].c_str() : "");
        ImGui::Dummy(ImVec2(0.0f, 10.0f));
        // The label changes when pressed; the id stays, so the press is one click.
        if (ImGui::Button((scene.playLabel + "###PlayButton").c_str())) {
            PressPlay(scene);
        }
        ImGui::SameLine();
        if (ImGui::Button("Stop/Reset")) {
            StopAndReset(scene, view.ui);
        }
        ImGui::Spacing();
        ImGui::Separator();
        ImGui::Spacing();
        if (ImGui::BeginTabBar("ResourceManagerTabs")) {
            if (ImGui::BeginTabItem("Model")) {
                DrawModelTab(view);
                ImGui::EndTabItem();
            }
            if (ImGui::BeginTabItem("Motion")) {
                DrawMotionTab(view);
                ImGui::EndTabItem();
            }
            if (ImGui::BeginTabItem("Song")) {
                DrawSongTab(view);
                ImGui::EndTabItem();
            }
            if (ImGui::BeginTabItem("Shader (effect)")) {
                DrawShaderTab(view);
                ImGui::EndTabItem();
            }
            ImGui::EndTabBar();
        }
    }
    ImGui::End();
}

}  // namespace qv
