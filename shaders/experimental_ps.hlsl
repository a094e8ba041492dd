#include "constants.hlsli"
#include "shadow_term.hlsli"

Texture2D baseTexture : register(t0);
SamplerState g_samWarp : register(s0);
SamplerState g_samClamp : register(s1);
SamplerState g_samBorder : register(s2);

// Half-Lambert shading with specular highlights and a light shadow.
float4 main(PS_INPUT input) : SV_TARGET {
    if (baseColor.a <= 0.01f) {
        discard;
    }
    float4 colour = textureBind0 != 0 ? baseTexture.Sample(g_samWarp, input.uv) : baseColor;
    const float alpha = colour.a;
    if (alpha <= 0.01f) {
        discard;
    }
    const float4 l = normalize(lightPos - input.worldPos);
    const float4 v = normalize(cameraPos - input.worldPos);
    const float4 h = normalize(v + l);
    float3 specular = 0;
    if (specularStrength > 0.0f) {
        specular = saturate(pow(max(dot(input.normal, h), 0.0f), specularStrength) * specularColor);
    }
    const float shadow = receiveShadow != 0 ? ShadowTerm(input.worldPos) : 1.0f;
    const float lambert = dot(l, normalize(input.worldNormal)) * 0.5f + 0.5f;
    const float factor = lambert - 0.1f * (1.0f - shadow);
    colour.rgb = colour.rgb * factor + specular;

    if (emissionStrength != 0.0f) {
        if (any(emissionColor != 0)) {
            colour.rgb += emissionColor * emissionStrength;
        } else {
            colour.rgb += colour.rgb * emissionStrength;
        }
    }
    return float4(saturate(colour.rgb), alpha);
}
