// The outline's pixels: the material's edge colour, flat.
#include "constants.hlsli"

float4 main(PS_INPUT input) : SV_TARGET {
    return edgeColor;
}
