// The resource manager: play control and the lists of models, motions, songs, shaders, accessories.
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

// A row's box as the user left it: the last switch asked for this frame,
// else the scene's value.
bool AskedSwitch(const UiState& ui, RequestKind kind, std::int32_t row, bool current) {
    for (const SceneRequest& request : ui.requests) {
        if (request.kind == kind && request.index == row) {
            current = request.on;
        }
    }
    return current;
}

// A model that loaded without some of its files says so on its row; the
// lines name the files, as the import status did.
void DrawWarningMark(const std::vector<std::string>& warnings) {
    if (warnings.empty()) {
        return;
    }
    ImGui::TextColored(ImVec4(1.0f, 0.8f, 0.2f, 1.0f), "(!)");
    if (ImGui::IsItemHovered()) {
        ImGui::BeginTooltip();
        for (const std::string& line : warnings) {
            ImGui::TextUnformatted(line.c_str());
        }
        ImGui::EndTooltip();
    }
    ImGui::SameLine();
}

void DrawModelTab(InterfaceView& view) {
    if (!ImGui::TreeNodeEx("Model list", ImGuiTreeNodeFlags_DefaultOpen)) {
        return;
    }
    if (BeginListTable("ModelListTable",
                       {"Select", "#", "Name", "English name", "Physic", "Action"})) {
        const auto& models = view.scene.models;
        for (int row = 0; row < static_cast<int>(models.size()); ++row) {
            const ModelUiEntry& entry = models[row].entry;
            ImGui::PushID(row);
            ImGui::TableNextRow();
            ImGui::TableNextColumn();
            bool selected = AskedSwitch(view.ui, RequestKind::SelectModel, row, entry.selected);
            if (ImGui::Checkbox("##Select", &selected)) {
                view.ui.requests.push_back({RequestKind::SelectModel, row, selected});
            }
            ImGui::TableNextColumn();
            ImGui::Text("%d", row + 1);
            ImGui::TableNextColumn();
            DrawWarningMark(entry.warnings);
            ImGui::TextUnformatted(entry.name.c_str());
            ImGui::TableNextColumn();
            ImGui::TextUnformatted(entry.englishName.c_str());
            ImGui::TableNextColumn();
            bool physicsOn = AskedSwitch(view.ui, RequestKind::SwitchPhysics, row, entry.physicsOn);
            if (ImGui::Checkbox("##PhysicOn", &physicsOn)) {
                view.ui.requests.push_back({RequestKind::SwitchPhysics, row, physicsOn});
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
void DrawCameraMotionCombo(const Scene& scene, UiState& ui) {
    const auto& motions = scene.motions;
    const int chosen = scene.stage.cameraMotion;
    const bool valid = chosen >= 0 && chosen < static_cast<int>(motions.size());
    if (ImGui::BeginCombo("Camera motion", valid ? motions[chosen].name.c_str() : "None")) {
        if (ImGui::Selectable("None", !valid)) {
            ui.requests.push_back({RequestKind::ChooseCameraMotion, -1});
        }
        for (int i = 0; i < static_cast<int>(motions.size()); ++i) {
            ImGui::PushID(i);
            if (ImGui::Selectable(motions[i].name.c_str(), i == chosen)) {
                ui.requests.push_back({RequestKind::ChooseCameraMotion, i});
            }
            ImGui::PopID();
        }
        ImGui::EndCombo();
    }
}

void DrawMotionTab(InterfaceView& view) {
    DrawCameraMotionCombo(view.scene, view.ui);
    if (!ImGui::TreeNodeEx("Motion list", ImGuiTreeNodeFlags_DefaultOpen)) {
        return;
    }
    if (BeginListTable("MotionListTable", {"#", "Name", "Action"})) {
        const auto& motions = view.scene.motions;
        for (int row = 0; row < static_cast<int>(motions.size()); ++row) {
            ImGui::PushID(row);
            NumberedListRow(row, motions[row].name.c_str());
            if (ImGui::Button("Delete")) {
                view.ui.requests.push_back({RequestKind::DeleteMotion, row});
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
    const Scene& scene = view.scene;
    if (BeginListTable("songListTable", {"#", "Name", "Action"})) {
        for (int row = 0; row < static_cast<int>(scene.songs.size()); ++row) {
            ImGui::PushID(row);
            NumberedListRow(row, scene.songs[row].name.c_str());
            if (row != scene.playback.selectedSong) {
                if (ImGui::Button("Select this song")) {
                    view.ui.requests.push_back({RequestKind::SelectSong, row});
                }
                ImGui::SameLine();
            }
            if (ImGui::Button("Delete")) {
                view.ui.requests.push_back({RequestKind::DeleteSong, row});
            }
            ImGui::PopID();
        }
        ImGui::EndTable();
    }
    ImGui::TreePop();
}

void DrawShaderTab(InterfaceView& view) {
    const Scene& scene = view.scene;
    if (scene.render.rayTracing) {
        ImGui::TextUnformatted("-Raytraced diffuse/shadow/reflection");
        ImGui::TextUnformatted(
            "-Reflection is configured by material specular color and reflective");
        const auto& names = scene.render.rayTracingShaderNames;
        const int selected = scene.render.selectedRayTracingShader;
        const bool valid = selected >= 0 && selected < static_cast<int>(names.size());
        if (ImGui::BeginCombo("Raytracing shader selection",
                              valid ? names[selected].c_str() : "")) {
            for (int i = 0; i < static_cast<int>(names.size()); ++i) {
                if (ImGui::Selectable(names[i].c_str(), i == selected)) {
                    view.ui.requests.push_back({RequestKind::ChooseRayTracingShader, i});
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
    const auto& shaders = scene.shaders;
    const bool hasDefault =
        scene.defaultShader >= 0 && scene.defaultShader < static_cast<int>(shaders.size());
    ImGui::Text("Default shader: %s",
                hasDefault ? shaders[scene.defaultShader].entry.name.c_str() : "");
    if (!ImGui::TreeNodeEx("shader list", ImGuiTreeNodeFlags_DefaultOpen)) {
        return;
    }
    if (BeginListTable("shaderListTable", {"#", "Name", "Action"})) {
        for (int row = 0; row < static_cast<int>(shaders.size()); ++row) {
            const ShaderEntry& entry = shaders[row].entry;
            ImGui::PushID(row);
            NumberedListRow(row, entry.name.c_str());
            if (row != scene.defaultShader) {
                if (ImGui::Button("Set as default")) {
                    view.ui.requests.push_back({RequestKind::ChooseDefaultShader, row});
                }
            }
            if (!entry.builtIn) {
                if (row != scene.defaultShader) {
                    ImGui::SameLine();
                }
                if (ImGui::Button("Delete")) {
                    view.ui.requests.push_back({RequestKind::DeleteShader, row});
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
    const auto& models = view.scene.models;
    if (row < 0 || row >= static_cast<std::int32_t>(models.size()) ||
        !AskedSwitch(view.ui, RequestKind::SelectModel, row, models[row].entry.selected)) {
        return;
    }
    // Unticked first, so that a second Delete in the same frame is refused.
    view.ui.requests.push_back({RequestKind::SelectModel, row, false});
    view.ui.requests.push_back({RequestKind::DeleteModel, row});
}

void DrawResourceManager(InterfaceView& view) {
    const Scene& scene = view.scene;
    ImGui::SetNextWindowPos(ImVec2(670.0f, 10.0f), ImGuiCond_FirstUseEver);
    ImGui::SetNextWindowSize(ImVec2(600.0f, 320.0f), ImGuiCond_FirstUseEver);
    if (ImGui::Begin("Resource manager", &view.ui.showResourceManager)) {
        KeepWindowOnScreen();
        ImGui::TextUnformatted("Playing status:");
        ImGui::SameLine();
        ImGui::TextUnformatted(PlayStateText(scene.playback.state));
        const bool hasSong = scene.playback.selectedSong >= 0 &&
                             scene.playback.selectedSong < static_cast<int>(scene.songs.size());
        ImGui::Text("Selected song: %s",
                    hasSong ? scene.songs[scene.playback.selectedSong].name.c_str() : "");
        ImGui::Dummy(ImVec2(0.0f, 10.0f));
        DrawPlayButton(view, "###PlayButton");
        ImGui::SameLine();
        if (ImGui::Button("Stop/Reset")) {
            view.ui.requests.push_back({RequestKind::StopAndReset});
        }
        ImGui::SameLine();
        if (ImGui::Button("Reset view")) {
            view.ui.requests.push_back({RequestKind::ResetView});
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
            if (ImGui::BeginTabItem("Accessory")) {
                DrawAccessoryTab(view);
                ImGui::EndTabItem();
            }
            ImGui::EndTabBar();
        }
    }
    ImGui::End();
}

}  // namespace qv
