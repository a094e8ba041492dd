// Drives the tool windows through Dear ImGui without a GPU: the mouse and keys go in through the
// IO, frames run, state is read back.
#pragma once

#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <variant>
#include <vector>

#include "scene/scene.h"
#include "scene/ui_state.h"
#include "tests/support/content_writers.h"
#include "tests/support/scene_models.h"
#include "ui/interface_context.h"
#include "ui/interface_view.h"
#include "ui/main_windows.h"

namespace qv {

// The indices of the waiting requests of one kind, in the order asked.
inline std::vector<std::int32_t> Asked(const UiState& ui, RequestKind kind) {
    std::vector<std::int32_t> indices;
    for (const SceneRequest& request : ui.requests) {
        if (request.kind == kind) {
            indices.push_back(request.index);
        }
    }
    return indices;
}

// One step of a widget's id path: a label or a PushID(int).
using IdPart = std::variant<const char*, int>;

class InterfaceDriver {
public:
    explicit InterfaceDriver(std::function<void()> draw, float width = 1280.0f,
                             float height = 720.0f);

    // One whole frame: new frame, the windows, render.
    void Frame();
    void Frames(int count) {
        for (int i = 0; i < count; ++i) {
            Frame();
        }
    }

    // The id of a widget inside a window, from the labels and numbers of
    // the scopes around it (tab bar, tab, tree node, table, row).
    static ImGuiID Id(const char* window, std::initializer_list<IdPart> path);

    // Moves the mouse over the widget, presses and releases the left button
    // there. False when no point of the window's rectangle hovers it.
    bool Click(const char* window, ImGuiID id);
    bool ClickIn(const char* window, std::initializer_list<IdPart> path) {
        return Click(window, Id(window, path));
    }
    // Opens the combo at `combo` and clicks `entry` in the list it opens
    // (the popup on top, whatever popups lie under it).
    bool Choose(const char* window, std::initializer_list<IdPart> combo,
                std::initializer_list<IdPart> entry);
    // Clicks a text field (which selects its text), types `text` a
    // character a frame, then presses Enter. A drag or slider field takes
    // typing after a Ctrl-click.
    bool Type(const char* window, ImGuiID id, const std::string& text, bool ctrlClick = false);
    // Where the widget lies, found by hovering the window point by point.
    bool Find(const char* window, ImGuiID id, ImVec2* at);
    // The text of the first tooltip that hovering the window point by point
    // brings up; empty when none does.
    std::string FirstTooltip(const char* window);

    // The text the window and its child windows drew in the last frame, read
    // back from the glyphs in their draw lists: without spaces, which draw none.
    std::string DrawnText(const char* window) const;

    // Whether the window drew the point in the colour of a selected row
    // (a chosen list entry, not one the mouse is over).
    bool Highlighted(const char* window, ImVec2 at) const;

    void SetDisplaySize(float width, float height);
    ImGuiWindow* Window(const char* name) const;
    ImGuiIO& Io() { return ImGui::GetIO(); }

private:
    // Hovers the window point by point, a frame each, until `found` holds there.
    bool Hover(const char* window, const std::function<bool()>& found, ImVec2* at);

    InterfaceContext context_;
    std::function<void()> draw_;
};

// An empty scene with its interface state, and the tool windows over it
// drawn through a driver; each user fills the scene as it needs.
class InterfaceScene {
protected:
    InterfaceScene()
        : scene_(std::make_unique<AudioEngine>()), view_{scene_, ui_, {}, {}}, driver_([this] {
              DrawInterface(view_);
          }) {}

    // One scene update, as the player runs it between frames.
    void SceneUpdate(float seconds = 1.0f / 60.0f) {
        UpdateScene(scene_, ui_, modelSetting_, seconds);
    }

    // Two models ("first", "second"), two motions ("dance.vmd", "walk.vmd")
    // and two silent songs ("song1.wav", "song2.wav").
    void AddTwoOfEach() {
        for (const char* name : {"first", "second"}) {
            EXPECT_EQ(AddSceneModel(scene_, name), S_OK);
        }
        for (const char* name : {"dance.vmd", "walk.vmd"}) {
            scene_.motions.push_back({{}, name});
        }
        for (const char* name : {"song1.wav", "song2.wav"}) {
            scene_.songs.push_back(
                {std::make_unique<SoundEffect>(*scene_.audioEngine, SilentWav(48000)), name});
        }
    }

    Scene scene_;
    UiState ui_;
    ModelSettingState modelSetting_;
    InterfaceView view_;
    InterfaceDriver driver_;
};

class InterfaceSceneTest : public ::testing::Test, protected InterfaceScene {};

// The id of `widget` in row `row` of the resource manager's model list.
inline ImGuiID ModelListWidget(int row, const char* widget) {
    return InterfaceDriver::Id("Resource manager", {"ResourceManagerTabs", "Model", "Model list",
                                                    "ModelListTable", row, widget});
}

}  // namespace qv
