// The default look: sphere map, then a toon ramp chosen by light and shadow.
#include "constants.hlsli"
#include "material_common.hlsli"
#include "shadow_term.hlsli"

Texture2D sphereTexture : register(t1);
Texture2D toonTexture : register(t2);
SamplerState g_samClamp : register(s1);

// Toon shading: the material's sphere map, then a ramp looked up by how far
// the surface turns from the light (and whether it lies in shadow).
float4 main(PS_INPUT input) : SV_TARGET {
    float4 colour = MaterialColour(input.uv);

    const float3 n = mul(mul(input.normal, mModel).xyz, (float3x3)mView);
    const float2 s = n.xy * 0.5f + 0.5f;
    const float2 sphereUv = float2(s.x, 1.0f - s.y);
    if (textureBind1 != 0) {
        if (sphereMode == 1) {
            colour.rgb *= sphereTexture.Sample(g_samWarp, sphereUv).rgb;
        } else if (sphereMode == 2) {
            colour.rgb += sphereTexture.Sample(g_samWarp, sphereUv).rgb;
        } else if (sphereMode == 3) {
            // A sub-texture: laid on with the first additional UV, not by
            // the normal.
            colour.rgb *= sphereTexture.Sample(g_samWarp, input.extra.xy).rgb;
        }
    }
    colour.rgb *= saturate(lightColor.rgb * baseColor.rgb + ambientColor);

    const float4 l = normalize(lightPos - input.worldPos);
    const float4 v = normalize(cameraPos - input.worldPos);
    const float3 specular = Specular(input.normal, normalize(v + l));
    float3 toon = 1;
    if (textureBind2 != 0) {
        // The shadow only moves the ramp lookup: without a ramp it is not read.
        const float shadow = receiveShadow != 0 ? ShadowTerm(input.worldPos) : 1.0f;
        const float t = (dot(l, normalize(input.worldNormal)) * 0.5f + 0.5f) - 0.3f * (1.0f - shadow);
        toon = toonTexture.Sample(g_samClamp, float2(specularStrength, 1.0f - t)).rgb;
    }
    return FinishColour(colour.rgb * toon + specular, colour.a);
}
