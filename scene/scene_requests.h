// The interface's queued requests carried out by the scene update, and the once-a-frame GPU wait.
#pragma once

#include "scene/scene.h"

namespace qv {

// Waits for the GPU at most once a frame, and only when something asks for it.
class GpuIdle {
public:
    explicit GpuIdle(Scene& scene) : scene_(scene) {}
    void Wait() {
        if (!idle_ && scene_.waitForGpu) {
            scene_.waitForGpu();
        }
        idle_ = true;
    }

private:
    Scene& scene_;
    bool idle_ = false;
};

// The record at `row` when it still holds `model`, else null.
ModelRecord* ModelAtRow(Scene& scene, std::int32_t row, const ModelInstance* model);
const ModelRecord* ModelAtRow(const Scene& scene, std::int32_t row, const ModelInstance* model);
// The model the model setting window is bound to, while the binding holds;
// the window keeps only a read-only pointer, this is the scene's own record.
ModelRecord* BoundModel(Scene& scene, const ModelSettingState& modelSetting);
const ModelRecord* BoundModel(const Scene& scene, const ModelSettingState& modelSetting);

// Carries out ui.requests in order and empties the queue. Main thread, while
// no stage runs.
void CarryOutRequests(Scene& scene, UiState& ui, ModelSettingState& modelSetting, GpuIdle& gpu);

}  // namespace qv
