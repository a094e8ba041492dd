// Drops that land while the user is busy in the tool windows: typing in a field, editing a model
// in the model setting window, waiting for an import. Each ends in a defined state.
#include <gtest/gtest.h>

#include <thread>

#include "app/file_drop.h"
#include "app/input_hook.h"
#include "scene/scene.h"
#include "tests/support/scene_models.h"
#include "tests/support/temp_file.h"
#include "tests/ui/interface_driver.h"
#include "ui/main_windows.h"
#include "ui/model_setting.h"

namespace qv {

namespace {

SDL_Event DropEvent(std::uint32_t type, char* file = nullptr) {
    SDL_Event e{};
    e.type = type;
    e.drop.file = file;
    return e;
}

// The windows over a scene with one model, and a folder of files to drop.
class DropStateTest : public InterfaceSceneTest {
protected:
    DropStateTest() {
        EXPECT_EQ(AddSceneModel(scene_, "first"), S_OK);
        model_ = folder_.Write("dropped.pmx", EncodePmx(SamplePmxModel()));
        notes_ = folder_.Write("notes.txt", "x");
        view_.modelSetting = &modelSetting_;
        driver_.Frames(2);
    }

    // The window system's events of one drop, then frames with the scene
    // update until the importer is done with everything dropped.
    void DropAndSettle(std::vector<std::string> paths) {
        HandleDropEvent(DropEvent(SDL_DROPBEGIN), drop_);
        for (std::string& path : paths) {
            HandleDropEvent(DropEvent(SDL_DROPFILE, path.data()), drop_);
        }
        HandleDropEvent(DropEvent(SDL_DROPCOMPLETE), drop_);
        Settle();
    }
    void Settle() {
        do {
            std::this_thread::yield();
            SceneUpdate();
            drop_.HandOver(scene_.importer);
            driver_.Frame();
        } while (scene_.importer.Busy() || drop_.WaitingBatches() != 0);
        driver_.Frames(2);
    }
    void Type(const char* text) {
        for (const char* c = text; *c != '\0'; ++c) {
            driver_.Io().AddInputCharacter(static_cast<unsigned>(*c));
            driver_.Frame();
        }
    }
    void Press(int key) {
        driver_.Io().KeysDown[key] = true;
        driver_.Frame();
        driver_.Io().KeysDown[key] = false;
        driver_.Frame();
    }

    const TempFolder folder_;
    std::filesystem::path model_;
    std::filesystem::path notes_;
    FileDrop drop_;
};

TEST_F(DropStateTest, ADropWhileAFieldHasTheKeyboardLeavesItTheKeyboard) {
    ui_.showPhysicsSetting = true;
    driver_.Frames(2);
    const ImGuiID field = InterfaceDriver::Id("Physics setting", {"Simulation step time"});
    ASSERT_TRUE(driver_.Click("Physics setting", field));
    ASSERT_EQ(ImGui::GetActiveID(), field);
    Type("0.0");
    // The import's status window appears while the user types: the field
    // keeps the keys that follow, and the refusal is named.
    DropAndSettle({model_.string(), notes_.string()});
    EXPECT_TRUE(ui_.showImportStatus);
    EXPECT_EQ(ImGui::GetActiveID(), field);
    EXPECT_TRUE(driver_.Io().WantTextInput);
    Type("2");
    Press(ImGuiKey_Enter);
    EXPECT_FLOAT_EQ(ui_.editStepTime, 0.02f);
    EXPECT_EQ(scene_.models.size(), 2u);
    const std::string status = scene_.importer.Status();
    EXPECT_NE(status.find("Loaded 1 resource(s)."), std::string::npos) << status;
    EXPECT_NE(status.find("Not imported: " + notes_.string()), std::string::npos) << status;
}

TEST_F(DropStateTest, TheModelSettingWindowStaysOnItsModelWhenADropAddsOrReplacesOne) {
    OpenModelSetting(view_, 0);
    ui_.showModelSetting = true;
    driver_.Frames(2);
    const ModelInstance* bound = modelSetting_.model;
    ASSERT_NE(bound, nullptr);
    // The same file again: a second model of the same name, not a rebinding.
    DropAndSettle({model_.string()});
    ASSERT_EQ(scene_.models.size(), 2u);
    EXPECT_EQ(modelSetting_.model, bound);
    ASSERT_NE(BoundModelRow(view_), nullptr);
    EXPECT_EQ(BoundModelRow(view_), &scene_.models[0].entry);
    // The bound model removed and a dropped one in its row: the window lets
    // go instead of showing or editing the newcomer.
    ui_.requests.push_back({RequestKind::DeleteModel, 0});
    DropAndSettle({model_.string()});
    ASSERT_EQ(scene_.models.size(), 2u);
    EXPECT_EQ(BoundModelRow(view_), nullptr);
    EXPECT_FALSE(AddSelectedMotion(view_));
    driver_.Frames(2);
    // Bound again, it edits the model now in that row.
    OpenModelSetting(view_, 0);
    EXPECT_EQ(modelSetting_.model, scene_.models[0].instance.get());
}

TEST_F(DropStateTest, DropsDuringAnImportWaitThenEachEndsWithItsOwnSummary) {
    ui_.showImportStatus = true;
    ASSERT_TRUE(scene_.importer.Request({model_}));
    std::string model = model_.string();
    std::string notes = notes_.string();
    HandleDropEvent(DropEvent(SDL_DROPFILE, model.data()), drop_);
    HandleDropEvent(DropEvent(SDL_DROPFILE, notes.data()), drop_);
    EXPECT_EQ(drop_.WaitingBatches(), 2u);
    Settle();
    EXPECT_EQ(scene_.models.size(), 3u);
    // The last drop held nothing to import: its refusal is what shows.
    EXPECT_NE(scene_.importer.Status().find("Not imported: " + notes), std::string::npos);
    EXPECT_TRUE(ui_.showImportStatus);
}

}  // namespace

}  // namespace qv
