// The model setting window's test scene: two sample models, two motions and material values
// that hooks keep in place of the renderer.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cfloat>
#include <cmath>

#include "scene/scene.h"
#include "tests/support/content_writers.h"
#include "tests/support/scene_models.h"
#include "tests/ui/interface_driver.h"
#include "ui/main_windows.h"
#include "ui/model_setting.h"

namespace qv {

inline constexpr const char* kWindow = "Model setting";

inline ModelEdit PositionEdit(std::int32_t bone, Vector4 position) {
    ModelEdit edit;
    edit.kind = ModelEdit::Kind::BonePosition;
    edit.index = bone;
    edit.position = position;
    return edit;
}

inline ModelEdit WeightEdit(std::int32_t morph, float value) {
    ModelEdit edit;
    edit.kind = ModelEdit::Kind::MorphWeight;
    edit.index = morph;
    edit.value = value;
    return edit;
}

// A motion that turns the root bone ("センター") about X and sets morph A.
inline VmdMotion RootTurn(const char* name, float angle) {
    VmdMotion motion;
    motion.fileName = name;
    VmdBoneKey key;
    key.boneName = u"センター";
    key.rotation = {std::sin(angle / 2), 0.0f, 0.0f, std::cos(angle / 2)};
    for (auto& byte : key.interpolation) {
        byte = 20;
    }
    VmdBoneKey later = key;
    later.frame = 30;
    motion.boneKeys[key.boneName] = {key, later};
    motion.morphKeys[u"morphB"] = {{u"morphB", 0, 0.75f}, {u"morphB", 30, 0.75f}};
    return motion;
}

// A scene with two sample models and two motions; material values live in
// a table the hooks stand in for the renderer with.
class ModelSettingTest : public InterfaceSceneTest {
protected:
    ModelSettingTest() {
        EXPECT_EQ(AddSceneModel(scene_, "first"), S_OK);
        // The second model has no bodies, so its IK chain is one the user may switch.
        PmxModel model = SamplePmxModel();
        model.rigidBodies.clear();
        model.joints.clear();
        EXPECT_EQ(AddSceneModel(scene_, "second", model), S_OK);
        scene_.motions.push_back({RootTurn("a.vmd", 0.5f), "a.vmd"});
        scene_.motions.push_back({RootTurn("b.vmd", -0.25f), "b.vmd"});
        materials_.resize(2);
        materials_[0].shaderName = "QV Toon shader";
        materials_[1].specularStrength = 5.0f;
        scene_.hooks.materialNames = [](const ModelInstance&) {
            return std::vector<std::string>{"skin", "hair"};
        };
        scene_.hooks.readMaterial = [this](const ModelInstance&, std::int32_t i,
                                           MaterialValues* out) {
            if (i < 0 || i >= static_cast<std::int32_t>(materials_.size())) {
                return false;
            }
            *out = materials_[static_cast<std::size_t>(i)];
            return true;
        };
        scene_.hooks.writeMaterial = [this](ModelInstance&, std::int32_t i,
                                            const MaterialValues& v) {
            materials_.at(static_cast<std::size_t>(i)) = v;
            ++materialWrites_;
        };
        scene_.hooks.applyShader = [this](ModelInstance& model, std::int32_t material,
                                          std::int32_t shader) {
            appliedShader_ = {&model == scene_.models[1].instance.get() ? 1 : 0, material, shader};
        };
        view_.modelSetting = &modelSetting_;
        view_.actions.openModelSetting = [this](std::int32_t row) {
            OpenModelSetting(view_, row);
            ui_.showModelSetting = true;
        };
        ui_.showStatistics = false;
        ui_.showNavigator = false;
        driver_.Frames(2);
    }

    bool ClickIn(std::initializer_list<IdPart> path) { return driver_.ClickIn(kWindow, path); }
    // Clicks a slider at `fraction` of its width, its ends found by hovering.
    bool ClickSlider(std::initializer_list<IdPart> path, float fraction) {
        const ImGuiID id = InterfaceDriver::Id(kWindow, path);
        ImVec2 at;
        if (!driver_.Find(kWindow, id, &at)) {
            return false;
        }
        ImGuiIO& io = driver_.Io();
        const auto hovered = [&](float x) {
            io.MousePos = ImVec2(x, at.y);
            driver_.Frame();
            return ImGui::GetCurrentContext()->HoveredId == id;
        };
        float left = at.x;
        while (hovered(left - 1.0f)) {
            left -= 1.0f;
        }
        float right = at.x;
        while (hovered(right + 1.0f)) {
            right += 1.0f;
        }
        io.MousePos = ImVec2(left + fraction * (right - left), at.y);
        driver_.Frame();
        io.MouseDown[0] = true;
        driver_.Frame();
        io.MouseDown[0] = false;
        driver_.Frame();
        io.MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
        driver_.Frame();
        return true;
    }
    // Opens the combo at `combo` and clicks an entry of its list.
    bool ChooseIn(std::initializer_list<IdPart> combo, std::initializer_list<IdPart> entry) {
        return driver_.Choose(kWindow, combo, entry);
    }
    bool Shown(std::initializer_list<IdPart> path) {
        ImVec2 unused;
        return driver_.Find(kWindow, InterfaceDriver::Id(kWindow, path), &unused);
    }
    // Binds row 1 through the resource manager's button.
    void OpenSecondModel() {
        ui_.showResourceManager = true;
        driver_.Frames(2);
        ASSERT_TRUE(driver_.Click(
            "Resource manager",
            InterfaceDriver::Id("Resource manager", {"ResourceManagerTabs", "Model", "Model list",
                                                     "ModelListTable", 1, "Model setting"})));
        ui_.showResourceManager = false;
        // Tall enough for every control of the material tab.
        driver_.Frame();
        ImGui::SetWindowSize(kWindow, ImVec2(600.0f, 560.0f));
        ImGui::SetWindowPos(kWindow, ImVec2(10.0f, 10.0f));
        driver_.Frames(2);
        ASSERT_TRUE(ui_.showModelSetting);
        ASSERT_EQ(modelSetting_.model, scene_.models[1].instance.get());
    }
    ModelInstance& Second() { return *scene_.models[1].instance; }

    std::vector<MaterialValues> materials_;
    int materialWrites_ = 0;
    std::array<std::int32_t, 3> appliedShader_{-1, -1, -1};
};

}  // namespace qv
