// Flattens a model onto the ground plane along the light, for its ground shadow.
#include "constants.hlsli"

// Just above y = 0, so that a stage's own floor does not hide the shadow.
static const float kGroundLift = 0.01f;

PS_INPUT main(VS_INPUT input) {
    PS_INPUT output;
    const float4 world = mul(float4(input.pos, 1.0f), mModel);
    const float3 l = normalize(lightDir.xyz);
    if (l.y > -0.01f) {
        // A light from the horizon or below throws no shadow on the ground:
        // the vertex goes behind the near plane.
        output.pos = float4(0.0f, 0.0f, -1.0f, 1.0f);
    } else {
        const float3 ground = world.xyz - l * ((world.y - kGroundLift) / l.y);
        output.pos = mul(mul(float4(ground, 1.0f), mView), mProjection);
    }
    output.normal = float4(input.normal, 0.0f);
    output.uv = input.uv;
    output.worldPos = world;
    output.worldNormal = 0;
    output.extra = input.extra;
    return output;
}
