// The model setting window: its binding, its edits reaching the model only between frames, and
// its buttons driven through Dear ImGui without a GPU.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <limits>
#include <thread>

#include "tests/ui/model_setting_fixture.h"

namespace qv {

namespace {

TEST(JoinMotionNamesTest, CommaBetweenFullStopAfterNothingForNone) {
    EXPECT_EQ(JoinMotionNames({}), "");
    EXPECT_EQ(JoinMotionNames({"a.vmd"}), "a.vmd.");
    EXPECT_EQ(JoinMotionNames({"a.vmd", "b.vmd"}), "a.vmd, b.vmd.");
}

TEST_F(ModelSettingTest, BindingCopiesTheModelsListsAndTheRowsChoicesComeBack) {
    scene_.models[1].entry.transformBone = 1;
    scene_.models[1].entry.materialIndex = 7;  // out of range: no material data
    scene_.models[1].entry.addedMotions = {"a.vmd"};
    OpenSecondModel();
    EXPECT_EQ(modelSetting_.modelRow, 1);
    EXPECT_EQ(modelSetting_.boneNames, (std::vector<std::string>{"センター", "左足", "左足ＩＫ"}));
    EXPECT_EQ(modelSetting_.transformBonePtr, &Second().bones[1]);
    EXPECT_EQ(modelSetting_.localPositionEdit, Second().bones[1].translation);
    EXPECT_EQ(modelSetting_.ikControls.size(), Second().ikControls.size());
    EXPECT_EQ(modelSetting_.morphControls.size(), Second().morphControls.size());
    EXPECT_EQ(modelSetting_.materialNames, (std::vector<std::string>{"skin", "hair"}));
    EXPECT_EQ(modelSetting_.addedMotionsText, "a.vmd.");
    EXPECT_EQ(modelSetting_.materialIndex, 7);
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Material"}));
    EXPECT_FALSE(Shown({"ModelSettingTabs", "Material", "Material data"}));
    // Nor does a material with no renderer to read it from show any.
    const auto read = scene_.hooks.readMaterial;
    scene_.hooks.readMaterial = nullptr;
    modelSetting_.materialIndex = 0;
    EXPECT_FALSE(Shown({"ModelSettingTabs", "Material", "Material data"}));
    scene_.hooks.readMaterial = read;
    EXPECT_TRUE(Shown({"ModelSettingTabs", "Material", "Material data"}));
    modelSetting_.materialIndex = 7;
    // A tab the player asks for opens once; the user can still leave it.
    modelSetting_.tabRequest = kModelSettingMorph;
    driver_.Frames(2);
    EXPECT_TRUE(Shown({"ModelSettingTabs", "Morph", "Reset all morph"}));
    // No tab is marked as holding unsaved work, the asked one or the others.
    ImGuiWindow* window = driver_.Window(kWindow);
    const ImGuiTabBar* tabs = GImGui->TabBars.GetByKey(window->GetID("ModelSettingTabs"));
    ASSERT_NE(tabs, nullptr);
    ASSERT_GE(tabs->Tabs.Size, 4);
    for (const ImGuiTabItem& tab : tabs->Tabs) {
        EXPECT_EQ(tab.Flags & ImGuiTabItemFlags_UnsavedDocument, 0) << tab.NameOffset;
    }
    // A new bone for Y rotation resets the mouse angle of that row; the tab
    // alone asks for nothing.
    scene_.models[1].entry.yRotationAngle = 1.5f;
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Bone"}));
    EXPECT_TRUE(modelSetting_.edits.empty());
    ASSERT_TRUE(ChooseIn({"ModelSettingTabs", "Bone", "Bone for Y rotation"}, {2, "左足ＩＫ"}));
    EXPECT_EQ(scene_.models[1].entry.yRotationBone, -1);  // the scene update writes the row
    SceneUpdate();
    EXPECT_EQ(scene_.models[1].entry.yRotationBone, 2);
    EXPECT_EQ(scene_.models[1].entry.yRotationAngle, 0.0f);
    // Binding another row and back brings the choices along.
    OpenModelSetting(view_, 0);
    EXPECT_EQ(modelSetting_.yRotationBone, -1);
    OpenModelSetting(view_, 1);
    EXPECT_EQ(modelSetting_.yRotationBone, 2);
    EXPECT_EQ(modelSetting_.transformBone, 1);
    // The first bone is a choice like any other.
    ASSERT_TRUE(ChooseIn({"ModelSettingTabs", "Bone", "Transform bone"}, {0, "センター"}));
    ASSERT_TRUE(ChooseIn({"ModelSettingTabs", "Bone", "Bone for Y rotation"}, {0, "センター"}));
    SceneUpdate();
    EXPECT_EQ(scene_.models[1].entry.transformBone, 0);
    EXPECT_EQ(scene_.models[1].entry.yRotationBone, 0);
    // Choices made but not yet carried out stay chosen when the window binds again.
    ChooseYRotationBone(view_, 1);
    ChooseTransformBone(view_, 2);
    ChooseMaterial(view_, 1);
    OpenModelSetting(view_, 1);
    EXPECT_EQ(modelSetting_.yRotationBone, 1);
    EXPECT_EQ(modelSetting_.transformBone, 2);
    EXPECT_EQ(modelSetting_.materialIndex, 1);
    EXPECT_EQ(modelSetting_.transformBonePtr, &Second().bones[2]);
    ChooseTransformBone(view_, -1);  // none
    EXPECT_EQ(modelSetting_.transformBonePtr, nullptr);
    // Left near the far corner of a display that then shrinks below its size,
    // it moves to the display's corner, its title bar in sight.
    ImGui::SetWindowPos(kWindow, ImVec2(1100.0f, 650.0f));
    driver_.SetDisplaySize(200.0f, 200.0f);
    driver_.Frames(2);
    EXPECT_EQ(driver_.Window(kWindow)->Pos.x, 0.0f);
    EXPECT_EQ(driver_.Window(kWindow)->Pos.y, 0.0f);
    driver_.SetDisplaySize(1280.0f, 720.0f);
    // Closed, the window is gone though its model stays bound.
    ui_.showModelSetting = false;
    driver_.Frames(2);
    EXPECT_FALSE(driver_.Window(kWindow)->Active);
    EXPECT_EQ(modelSetting_.modelRow, 1);
}

TEST_F(ModelSettingTest, BoneEditsReachTheModelBetweenFramesAndResetReturnsToRest) {
    OpenSecondModel();
    ChooseTransformBone(view_, 1);
    const Vector4 rest = Second().bones[1].restOffset;
    modelSetting_.edits.push_back(PositionEdit(1, {1.0f, 2.0f, 3.0f, 9.0f}));
    // Nothing reaches the model while the frame is drawn.
    EXPECT_EQ(Second().bones[1].translation, rest);
    SceneUpdate();
    EXPECT_EQ(Second().bones[1].translation, (Vector4{1.0f, 2.0f, 3.0f, 0.0f}));
    // A typed "nan" or "inf" is no position: the bone keeps the one it has.
    for (const float bad :
         {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        modelSetting_.edits.push_back(PositionEdit(1, {1.0f, 2.0f, bad, 0.0f}));
        modelSetting_.edits.push_back(PositionEdit(1, {bad, 2.0f, 3.0f, 0.0f}));
        SceneUpdate();
        EXPECT_EQ(Second().bones[1].translation, (Vector4{1.0f, 2.0f, 3.0f, 0.0f}));
    }
    // The skeleton followed in the same update.
    EXPECT_FLOAT_EQ(Second().bones[1].jointPosition.x,
                    Second().bones[0].worldMatrix.m[3][0] + 1.0f);
    Second().bones[0].rotation = {0.0f, 0.38268343f, 0.0f, 0.92387953f};
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Bone"}));
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Bone", "Reset all bone transform"}));
    EXPECT_EQ(modelSetting_.localPositionEdit, rest);
    SceneUpdate();
    for (const BoneState& bone : Second().bones) {
        EXPECT_EQ(bone.translation, bone.restOffset);
        EXPECT_EQ(bone.rotation, Quaternion{});
    }
    EXPECT_TRUE(modelSetting_.edits.empty());
}

// A position field takes only digits, points and signs, but a number too
// large for a float reads as infinite.
TEST_F(ModelSettingTest, ATypedLocalPositionIsAnEditAndAnOverflowKeepsTheValue) {
    OpenSecondModel();
    ChooseTransformBone(view_, 1);
    const Vector4 before = Second().bones[1].translation;
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Bone"}));
    const auto type = [this](int component, const std::string& text) {
        modelSetting_.edits.clear();
        return driver_.Type(kWindow,
                            InterfaceDriver::Id(kWindow, {"ModelSettingTabs", "Bone",
                                                          "local position", component, ""}),
                            text);
    };
    ASSERT_TRUE(type(1, "2.5"));
    ASSERT_FALSE(modelSetting_.edits.empty());
    const ModelEdit& typed = modelSetting_.edits.back();
    EXPECT_EQ(typed.kind, ModelEdit::Kind::BonePosition);
    EXPECT_EQ(typed.index, 1);
    EXPECT_EQ(typed.position, (Vector4{before.x, 2.5f, before.z, 0.0f}));
    SceneUpdate();
    for (const int component : {0, 1, 2}) {
        const std::string huge(40, '9');
        for (const std::string& bad : {huge, "-" + huge}) {
            ASSERT_TRUE(type(component, bad));
            ASSERT_FALSE(modelSetting_.edits.empty());
            for (const ModelEdit& edit : modelSetting_.edits) {
                const Vector4& p = edit.position;
                EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z))
                    << component << " " << bad;
            }
            // The last number that fit stays in the field.
            const float kept = (&modelSetting_.localPositionEdit.x)[component];
            EXPECT_TRUE(std::isfinite(kept) && std::abs(kept) > 1e37f) << kept;
        }
    }
}

TEST_F(ModelSettingTest, EditsMadeBeforeAnotherModelIsBoundReachTheModelTheyWereMadeFor) {
    // The second model's bone stands somewhere of its own first.
    OpenSecondModel();
    ChooseTransformBone(view_, 1);
    modelSetting_.edits.push_back(PositionEdit(1, {4.0f, -5.0f, 6.0f, 0.0f}));
    SceneUpdate();
    // Edits for the first model, then the second bound again before any update.
    OpenModelSetting(view_, 0);
    ChooseTransformBone(view_, 1);
    modelSetting_.edits.push_back(PositionEdit(1, {1.0f, 2.0f, 3.0f, 0.0f}));
    modelSetting_.edits.push_back(WeightEdit(1, 0.5f));
    OpenModelSetting(view_, 1);
    // The window shows the second model's own values, with nothing pending for it,
    // whichever way the bone is chosen.
    EXPECT_EQ(modelSetting_.localPositionEdit, (Vector4{4.0f, -5.0f, 6.0f, 0.0f}));
    EXPECT_TRUE(modelSetting_.edits.empty());
    ChooseTransformBone(view_, 0);
    EXPECT_EQ(modelSetting_.localPositionEdit, Second().bones[0].translation);
    // The first bone's position is a field like any other's.
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Bone"}));
    ASSERT_TRUE(driver_.Type(
        kWindow,
        InterfaceDriver::Id(kWindow, {"ModelSettingTabs", "Bone", "local position", 0, ""}), "7"));
    ASSERT_FALSE(modelSetting_.edits.empty());
    EXPECT_EQ(modelSetting_.edits.back().index, 0);
    EXPECT_EQ(modelSetting_.edits.back().position.x, 7.0f);
    modelSetting_.edits.clear();
    ChooseTransformBone(view_, 1);
    EXPECT_EQ(modelSetting_.localPositionEdit, (Vector4{4.0f, -5.0f, 6.0f, 0.0f}));
    modelSetting_.edits.clear();
    SceneUpdate();
    ModelInstance& first = *scene_.models[0].instance;
    EXPECT_EQ(first.bones[1].translation, (Vector4{1.0f, 2.0f, 3.0f, 0.0f}));
    EXPECT_EQ(first.morphWeights[1], 0.5f);
    EXPECT_EQ(scene_.models[0].entry.transformBone, 1);
    EXPECT_EQ(Second().bones[1].translation, (Vector4{4.0f, -5.0f, 6.0f, 0.0f}));
    EXPECT_EQ(Second().morphWeights[1], 0.0f);
    // Carried out once: a later update finds nothing left over.
    first.bones[1].translation = first.bones[1].restOffset;
    SceneUpdate();
    EXPECT_EQ(first.bones[1].translation, first.bones[1].restOffset);
}

TEST_F(ModelSettingTest, AnIkSwitchTurnedOffLeavesTheChainAsTheMotionPosesIt) {
    OpenSecondModel();
    ASSERT_EQ(modelSetting_.ikControls.size(), 1u);
    ASSERT_TRUE(AddSelectedMotion(view_) == false);  // nothing selected yet
    modelSetting_.motionSelectIndex = 0;
    ASSERT_TRUE(AddSelectedMotion(view_));
    SceneUpdate();
    Second().playing = 1;
    SceneUpdate();
    // With IK on, the solve turns the root away from the keyed pose.
    const Quaternion keyed{std::sin(0.25f), 0.0f, 0.0f, std::cos(0.25f)};
    EXPECT_GT(std::abs(Second().bones[0].rotation.y) + std::abs(Second().bones[0].rotation.z),
              1e-3f);
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Bone"}));
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Bone", "IK bone list"}));
    ASSERT_TRUE(
        ClickIn({"ModelSettingTabs", "Bone", "IK bone list", "ikTable", 0, "##solveEnable"}));
    EXPECT_EQ(*Second().ikControls[0].ikEnabled, 1);  // not before the next update
    SceneUpdate();
    EXPECT_EQ(*Second().ikControls[0].ikEnabled, 0);
    const Quaternion& root = Second().bones[0].rotation;
    EXPECT_NEAR(root.x, keyed.x, 1e-5f);
    EXPECT_NEAR(root.y, 0.0f, 1e-5f);
    EXPECT_NEAR(root.z, 0.0f, 1e-5f);
    EXPECT_NEAR(root.w, keyed.w, 1e-5f);
    // Turned on again, the solve takes the chain back.
    ASSERT_TRUE(
        ClickIn({"ModelSettingTabs", "Bone", "IK bone list", "ikTable", 0, "##solveEnable"}));
    SceneUpdate();
    EXPECT_EQ(*Second().ikControls[0].ikEnabled, 1);
    EXPECT_GT(std::abs(root.y) + std::abs(root.z), 1e-3f);
}

TEST_F(ModelSettingTest, AddingWhilePlayingIsRefusedAndClearingReturnsToRest) {
    OpenSecondModel();
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Motion"}));
    EXPECT_FALSE(Shown({"ModelSettingTabs", "Motion", "Clear all motions"}));
    EXPECT_FALSE(Shown({"ModelSettingTabs", "Motion", "Add selected motion"}));  // none chosen
    ASSERT_TRUE(ChooseIn({"ModelSettingTabs", "Motion", "Motion select"}, {1, "b.vmd"}));
    EXPECT_EQ(modelSetting_.motionSelectIndex, 1);
    EXPECT_TRUE(modelSetting_.edits.empty());  // a choice alone asks nothing
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Motion", "Add selected motion"}));
    EXPECT_EQ(modelSetting_.addedMotionsText, "b.vmd.");
    driver_.Frame();
    EXPECT_NE(driver_.DrawnText(kWindow).find("Addedmotions:b.vmd."), std::string::npos);
    SceneUpdate();
    EXPECT_EQ(Second().motion.boneTracks.size(), 1u);
    Second().playing = 1;
    modelSetting_.motionSelectIndex = 0;
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Motion", "Add selected motion"}));
    EXPECT_EQ(modelSetting_.addedMotionsText, "b.vmd.");
    EXPECT_EQ(scene_.models[1].entry.addedMotions, (std::vector<std::string>{"b.vmd"}));
    SceneUpdate();
    Second().playing = 0;
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Motion", "Add selected motion"}));
    EXPECT_EQ(modelSetting_.addedMotionsText, "b.vmd, a.vmd.");
    // Pending edits are read in order: a clear drops what came before it.
    modelSetting_.edits.push_back({});
    modelSetting_.edits.back().kind = ModelEdit::Kind::ClearMotions;
    modelSetting_.edits.push_back({});
    modelSetting_.edits.back().kind = ModelEdit::Kind::AttachMotion;
    modelSetting_.edits.back().index = 1;
    EXPECT_EQ(AddedMotionNames(view_), (std::vector<std::string>{"b.vmd"}));
    modelSetting_.edits.resize(modelSetting_.edits.size() - 2);
    SceneUpdate();
    Second().playing = 1;
    SceneUpdate();
    SceneUpdate();
    ASSERT_GT(Second().motion.time, 0.0f);
    ASSERT_GT(Second().vertexMorphWeights[0] + Second().vertexMorphWeights.back(), 0.0f);
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Motion", "Clear all motions"}));
    EXPECT_EQ(modelSetting_.addedMotionsText, "");
    EXPECT_EQ(modelSetting_.motionSelectIndex, -1);
    EXPECT_FALSE(Shown({"ModelSettingTabs", "Motion", "Clear all motions"}));
    SceneUpdate();
    EXPECT_EQ(Second().playing, 0);
    EXPECT_EQ(Second().motion.time, 0.0f);
    EXPECT_EQ(Second().motion.end, 0.0f) << "nothing of it is left on the timeline";
    EXPECT_TRUE(Second().motion.boneTracks.empty());
    EXPECT_TRUE(Second().motion.morphTracks.empty());
    EXPECT_EQ(Second().bones[0].rotation, Quaternion{});
    for (float weight : Second().vertexMorphWeights) {
        EXPECT_EQ(weight, 0.0f);
    }
    // The other model was never touched.
    EXPECT_TRUE(scene_.models[0].instance->motion.boneTracks.empty());
}

TEST_F(ModelSettingTest, MorphSlidersAndMaterialValuesChangeOnlyAtTheNextUpdate) {
    OpenSecondModel();
    ASSERT_FALSE(modelSetting_.morphControls.empty());
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Morph"}));
    // Each row's slider sits in the last column, under "Value".
    const ImGuiTable* table = ImGui::TableFindByID(
        InterfaceDriver::Id(kWindow, {"ModelSettingTabs", "Morph", "MorphWeightControlTable"}));
    ASSERT_NE(table, nullptr);
    ImVec2 slider;
    ASSERT_TRUE(driver_.Find(
        kWindow,
        InterfaceDriver::Id(
            kWindow, {"ModelSettingTabs", "Morph", "MorphWeightControlTable", 0, "##weight"}),
        &slider));
    EXPECT_GE(slider.x, table->Columns[3].MinX);
    ASSERT_TRUE(
        ClickSlider({"ModelSettingTabs", "Morph", "MorphWeightControlTable", 0, "##weight"}, 0.5f));
    const float* weight = modelSetting_.morphControls[0].weight;
    EXPECT_EQ(*weight, 0.0f);
    SceneUpdate();
    EXPECT_NEAR(*weight, 0.5f, 0.05f);  // a weight runs from 0 to 1 along the slider
    // The slider shows the live weight.
    char shown[16];
    std::snprintf(shown, sizeof shown, "%.3f", *weight);
    driver_.Frame();
    EXPECT_NE(driver_.DrawnText(kWindow).find(shown), std::string::npos) << shown;
    // Each row names its morph and its kind.
    std::string row =
        "1" + modelSetting_.morphControls[0].name + modelSetting_.morphControls[0].kind;
    std::erase(row, ' ');
    EXPECT_NE(driver_.DrawnText(kWindow).find(row), std::string::npos) << row;
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Morph", "Reset all morph"}));
    SceneUpdate();
    EXPECT_EQ(*weight, 0.0f);
    // A weight sent from elsewhere is still kept finite and in range.
    modelSetting_.edits.push_back(WeightEdit(0, std::numeric_limits<float>::quiet_NaN()));
    modelSetting_.edits.push_back(WeightEdit(1, 7.0f));
    SceneUpdate();
    EXPECT_EQ(*weight, 0.0f);
    EXPECT_EQ(*modelSetting_.morphControls[1].weight, 1.0f);

    ChooseMaterial(view_, 1);
    SceneUpdate();
    EXPECT_EQ(scene_.models[1].entry.materialIndex, 1);
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Material"}));
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Material", "Material data", "Receive shadow"}));
    EXPECT_EQ(materialWrites_, 0);
    EXPECT_FALSE(materials_[1].receiveShadow);
    SceneUpdate();
    EXPECT_EQ(materialWrites_, 1);
    EXPECT_TRUE(materials_[1].receiveShadow);
    EXPECT_EQ(materials_[1].specularStrength, 5.0f);
}

// The render stage reads the live values while the window is drawn; a
// reader on another thread stands in for it. Run under the thread sanitizer
// too: no write of the window may meet its reads.
TEST_F(ModelSettingTest, AFrameBeingRenderedSeesNoneOfTheEditsMadeMeanwhile) {
    OpenSecondModel();
    ModelInstance& model = Second();
    for (float& weight : model.vertexMorphWeights) {
        weight = 0.5f;
    }
    model.bones[0].translation = {0.0f, 3.0f, 0.0f, 0.0f};
    const std::uint8_t* ik = model.ikControls.at(0).ikEnabled;
    std::atomic<bool> rendering{true};
    std::atomic<int> reads{0};
    std::atomic<int> changed{0};
    std::thread render([&] {
        while (rendering.load(std::memory_order_acquire)) {
            for (float weight : model.vertexMorphWeights) {
                changed += weight != 0.5f;
            }
            changed += model.bones[0].translation.y != 3.0f;
            changed += *ik != 1;
            ++reads;
        }
    });
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Morph"}));
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Morph", "Reset all morph"}));
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Bone"}));
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Bone", "Reset all bone transform"}));
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Bone", "IK bone list"}));
    ASSERT_TRUE(
        ClickIn({"ModelSettingTabs", "Bone", "IK bone list", "ikTable", 0, "##solveEnable"}));
    // At least one whole read after the last click.
    for (const int clicked = reads.load(); reads.load() < clicked + 2;) {
        std::this_thread::yield();
    }
    rendering.store(false, std::memory_order_release);
    render.join();
    EXPECT_EQ(changed.load(), 0);
    // The stages have finished: the update applies all of it at once.
    SceneUpdate();
    for (float weight : model.vertexMorphWeights) {
        EXPECT_EQ(weight, 0.0f);
    }
    EXPECT_EQ(model.bones[0].translation, model.bones[0].restOffset);
    EXPECT_EQ(*ik, 0);
}

TEST_F(ModelSettingTest, RemovingTheBoundModelUnbindsTheOpenWindow) {
    OpenSecondModel();
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Bone"}));
    ASSERT_TRUE(ClickIn({"ModelSettingTabs", "Bone", "Reset all bone transform"}));
    ui_.requests.push_back({RequestKind::DeleteModel, 1});
    scene_.models[1].entry.selected = false;
    SceneUpdate();
    EXPECT_EQ(modelSetting_.model, nullptr);
    EXPECT_EQ(modelSetting_.modelRow, -1);
    EXPECT_TRUE(modelSetting_.boneNames.empty());
    EXPECT_TRUE(modelSetting_.edits.empty());
    driver_.Frames(3);  // an empty window, drawn without the model
    EXPECT_FALSE(Shown({"ModelSettingTabs", "Bone"}));
    EXPECT_TRUE(ui_.showModelSetting);
    // A row that no longer exists binds nothing.
    OpenModelSetting(view_, 1);
    EXPECT_EQ(modelSetting_.model, nullptr);
    AddSelectedMotion(view_);
    ClearAllMotions(view_);
    ChooseYRotationBone(view_, 0);
    ChooseTransformBone(view_, 0);
    ChooseMaterial(view_, 0);
    ResetAllBoneTransform(view_);
    EXPECT_TRUE(modelSetting_.edits.empty());
    EXPECT_TRUE(AddedMotionNames(view_).empty());
}

}  // namespace

}  // namespace qv
