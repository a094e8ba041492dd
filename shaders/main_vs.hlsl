// The built-in vertex program: skinned positions to the screen, with world values for light.
#include "constants.hlsli"

PS_INPUT main(VS_INPUT input) {
    PS_INPUT output;
    const float4 p = float4(input.pos, 1.0f);
    output.pos = mul(p, mMVP);
    output.normal = float4(input.normal, 0.0f);
    output.uv = input.uv;
    output.worldPos = mul(p, mModel);
    output.worldNormal = mul(float4(input.normal, 0.0f), mModel);
    output.extra = input.extra;
    return output;
}
