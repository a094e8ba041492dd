// The steps the built-in pixel programs share: the material's colour with
// its alpha test at the start, highlights, and emission and clamping at the
// end. The includer has included constants.hlsli.

Texture2D baseTexture : register(t0);
SamplerState g_samWarp : register(s0);

// Below this alpha a material or texel draws nothing, in every pass.
static const float kAlphaCutoff = 0.01f;

// The base texture or colour at this pixel, its alpha scaled by the
// material's: a material faded by a morph fades its texture too. Nearly
// transparent materials and texels draw nothing.
float4 MaterialColour(float2 uv) {
    if (baseColor.a <= kAlphaCutoff) {
        discard;
    }
    float4 colour = baseColor;
    if (textureBind0 != 0) {
        colour = baseTexture.Sample(g_samWarp, uv);
        colour.a *= baseColor.a;
    }
    if (colour.a <= kAlphaCutoff) {
        discard;
    }
    return colour;
}

// Blinn-Phong highlight along the half vector h.
float3 Specular(float4 normal, float4 h) {
    if (specularStrength <= 0.0f) {
        return 0;
    }
    return saturate(pow(max(dot(normal, h), 0.0f), specularStrength) * specularColor);
}

// Emission on top of the shaded colour, then the output with the colour's
// own alpha.
float4 FinishColour(float3 rgb, float alpha) {
    if (emissionStrength != 0.0f) {
        if (any(emissionColor != 0)) {
            rgb += emissionColor * emissionStrength;
        } else {
            rgb += rgb * emissionStrength;
        }
    }
    return float4(saturate(rgb), alpha);
}
