// The outline's pixels: the material's edge colour, flat.
#include "constants.hlsli"

// A material faded out entirely (often by a morph) takes its outline along:
// its outline is not drawn at all, so no pixel here needs a test, and the
// depth test can turn pixels away before this runs.
float4 main() : SV_TARGET {
    return edgeColor;
}
