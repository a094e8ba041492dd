// The built-in alternative look: soft half-Lambert light instead of a toon ramp.
#include "constants.hlsli"
#include "material_common.hlsli"
#include "shadow_term.hlsli"

// Half-Lambert shading with highlights and a light self-shadow.
float4 main(PS_INPUT input) : SV_TARGET {
    float4 colour = MaterialColour(input.uv);
    const float4 l = normalize(lightPos - input.worldPos);
    const float4 v = normalize(cameraPos - input.worldPos);
    const float4 h = normalize(v + l);
    const float3 specular = Specular(input.normal, h);
    const float shadow = receiveShadow != 0 ? ShadowTerm(input.worldPos) : 1.0f;
    const float lambert = dot(l, normalize(input.worldNormal)) * 0.5f + 0.5f;
    const float factor = lambert - 0.1f * (1.0f - shadow);
    return FinishColour(colour.rgb * factor + specular, colour.a);
}
