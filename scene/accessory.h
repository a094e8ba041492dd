// Accessories in the scene: rigid props drawn like models, following a bone or the world.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "runtime/model_instance.h"
#include "runtime/pose_math.h"
#include "scene/accessory_settings.h"

namespace qv {

struct ModelRecord;
struct SceneContent;

// One loaded accessory: a one-bone model instance (the renderer draws it as
// a model) and its row. The instance is moved only by UpdateAccessories.
struct AccessoryRecord {
    std::unique_ptr<ModelInstance> instance;
    std::string name;  // the file name, UTF-8
    AccessorySettings settings;
};

// Moves every accessory to where its settings and the followed bones put it,
// and fades it by its opacity (hidden ones fully). Call each frame after the
// models are updated, so the bones are those of this frame, physics included.
void UpdateAccessories(SceneContent& content);

// Applies the interface's edits in order and empties the list. Rows are as
// the interface saw them; edits of rows that are gone are dropped, and a
// followed model or bone that does not exist leaves the accessory in the world.
void ApplyAccessoryEdits(SceneContent& content, std::vector<AccessoryEdit>& edits);

// Removes one accessory and its GPU half. The GPU is idle when it is called.
// False when there is no such row.
bool RemoveAccessory(SceneContent& content, std::int32_t row);

// After model `removed` is gone: accessories that followed it stand in the
// world at the point they were last drawn (their own turn and scale kept),
// and the rows after it move up by one.
void ForgetRemovedModel(SceneContent& content, std::int32_t removed);

}  // namespace qv
