// The ground shadow's colour: a translucent dark where the material would draw.
#include "constants.hlsli"
#include "ground_shadow.hlsli"
#include "material_common.hlsli"

float4 main(PS_INPUT input) : SV_TARGET {
    // Cut-out texels and faded materials throw no shadow here either.
    MaterialColour(input.uv);
    return kGroundShadowColour;
}
