// The outline's pixels: the material's edge colour, flat.
#include "constants.hlsli"

float4 main(PS_INPUT input) : SV_TARGET {
    // A material faded out entirely (often by a morph) takes its outline along.
    if (baseColor.a <= 0.01f) {
        discard;
    }
    return edgeColor;
}
