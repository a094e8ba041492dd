// Flattens a model onto the ground plane along the light, for its ground shadow.
#include "constants.hlsli"
#include "ground_shadow.hlsli"

PS_INPUT main(VS_INPUT input) {
    PS_INPUT output;
    const float4 world = mul(float4(input.pos, 1.0f), mModel);
    output.pos = GroundShadowPosition(world);
    output.normal = float4(input.normal, 0.0f);
    output.uv = input.uv;
    output.worldPos = world;
    output.worldNormal = 0;
    output.extra = input.extra;
    return output;
}
