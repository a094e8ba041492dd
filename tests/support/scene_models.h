// Models put into a scene the way a finished import leaves them, for tests of what reads it.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "formats/text_decode.h"
#include "scene/scene.h"
#include "tests/support/content_writers.h"

namespace qv {

// Adds an instance of `model` named `name` to `scene`, its bodies in the
// scene's physics world; the instance's creation result.
inline HRESULT AddSceneModel(Scene& scene, const std::string& name,
                             const PmxModel& model = SamplePmxModel()) {
    auto instance = std::make_unique<ModelInstance>();
    std::unique_lock writing(scene.physics->lock);
    const HRESULT hr = CreateModelInstance(*instance, model, scene.physics.get());
    if (Failed(hr)) {
        return hr;
    }
    ModelUiEntry row;
    row.name = name;
    for (const PmxBone& bone : model.bones) {
        row.boneNames.push_back(ToUtf8(bone.name));
    }
    scene.models.push_back({std::move(instance), row});
    return hr;
}

}  // namespace qv
