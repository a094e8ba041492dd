// The ground shadow of a material no texel of which is cut out: the position alone.
#include "constants.hlsli"
#include "ground_shadow.hlsli"

float4 main(float3 pos : POSITION) : SV_POSITION {
    return GroundShadowPosition(mul(float4(pos, 1.0f), mModel));
}
