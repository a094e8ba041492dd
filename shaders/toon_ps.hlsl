#include "constants.hlsli"
#include "shadow_term.hlsli"

Texture2D baseTexture : register(t0);
Texture2D sphereTexture : register(t1);
Texture2D toonTexture : register(t2);
SamplerState g_samWarp : register(s0);
SamplerState g_samClamp : register(s1);
SamplerState g_samBorder : register(s2);

float4 main(PS_INPUT input) : SV_TARGET {
    if (baseColor.a <= 0.01f) {
        discard;
    }
    float4 colour = textureBind0 != 0 ? baseTexture.Sample(g_samWarp, input.uv) : baseColor;
    const float alpha = colour.a;
    if (alpha <= 0.01f) {
        discard;
    }

    const float3 n = mul(mul(input.normal, mModel).xyz, (float3x3)mView);
    const float2 s = n.xy * 0.5f + 0.5f;
    const float2 sphereUv = float2(s.x, 1.0f - s.y);
    if (textureBind1 != 0) {
        if (sphereMode == 1) {
            colour.rgb *= sphereTexture.Sample(g_samWarp, sphereUv).rgb;
        } else if (sphereMode == 2) {
            colour.rgb += sphereTexture.Sample(g_samWarp, sphereUv).rgb;
        }
    }
    colour.rgb *= saturate(lightColor.rgb * baseColor.rgb + ambientColor);

    const float4 l = normalize(lightPos - input.worldPos);
    const float4 v = normalize(cameraPos - input.worldPos);
    const float4 h = normalize(v + l);
    float3 specular = 0;
    if (specularStrength > 0.0f) {
        specular = saturate(pow(max(dot(input.normal, h), 0.0f), specularStrength) * specularColor);
    }
    float3 toon = 1;
    if (textureBind2 != 0) {
        // The shadow only moves the toon lookup: without a ramp it is not read.
        const float shadow = receiveShadow != 0 ? ShadowTerm(input.worldPos) : 1.0f;
        const float t = (dot(l, normalize(input.worldNormal)) * 0.5f + 0.5f) - 0.3f * (1.0f - shadow);
        toon = toonTexture.Sample(g_samClamp, float2(specularStrength, 1.0f - t)).rgb;
    }
    colour.rgb = colour.rgb * toon + specular;

    if (emissionStrength != 0.0f) {
        if (any(emissionColor != 0)) {
            colour.rgb += emissionColor * emissionStrength;
        } else {
            colour.rgb += colour.rgb * emissionStrength;
        }
    }
    return float4(saturate(colour.rgb), alpha);
}
