// The careful variant: lower thresholds and a longer walk along each edge.
#define FXAA_EDGE_THRESHOLD 0.063f
#define FXAA_EDGE_THRESHOLD_MIN 0.0312f
#define FXAA_STEPS 12
static const float kSteps[FXAA_STEPS] = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.5f,
                                         2.0f, 2.0f, 2.0f, 2.0f, 4.0f, 8.0f};
float FxaaStep(int i) {
    return kSteps[i];
}
#include "fxaa.hlsli"
