// The fast variant: a short walk along each edge.
#define FXAA_EDGE_THRESHOLD 0.166f
#define FXAA_EDGE_THRESHOLD_MIN 0.0833f
#define FXAA_STEPS 4
static const float kSteps[FXAA_STEPS] = {1.5f, 2.0f, 4.0f, 12.0f};
float FxaaStep(int i) {
    return kSteps[i];
}
#include "fxaa.hlsli"
