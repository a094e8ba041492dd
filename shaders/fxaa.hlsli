// Fast approximate anti-aliasing on the finished image. A pixel on a
// high-contrast edge is re-sampled a fraction of a pixel across the edge,
// the fraction found by walking along the edge to both of its ends; isolated
// pixels get a sub-pixel blend with their neighbours. Flat areas are left
// untouched. The includer defines FXAA_EDGE_THRESHOLD, FXAA_EDGE_THRESHOLD_MIN,
// FXAA_STEPS and FxaaStep(i).

#include "post.hlsli"

Texture2D g_txScreen : register(t0);
SamplerState g_samLinear : register(s0);

static const float kSubpixelQuality = 0.75f;

float Luma(float4 c) {
    return dot(c.rgb, float3(0.299f, 0.587f, 0.114f));
}

float LumaAt(float2 uv) {
    return Luma(g_txScreen.SampleLevel(g_samLinear, uv, 0));
}

float4 main(POST_INPUT input) : SV_TARGET {
    uint width, height;
    g_txScreen.GetDimensions(width, height);
    const float2 texel = 1.0f / float2(width, height);
    const float2 uv = input.uv;

    const float4 centre = g_txScreen.SampleLevel(g_samLinear, uv, 0);
    const float lumaC = Luma(centre);
    const float lumaN = LumaAt(uv + float2(0, -1) * texel);
    const float lumaS = LumaAt(uv + float2(0, 1) * texel);
    const float lumaW = LumaAt(uv + float2(-1, 0) * texel);
    const float lumaE = LumaAt(uv + float2(1, 0) * texel);
    const float lumaMin = min(lumaC, min(min(lumaN, lumaS), min(lumaW, lumaE)));
    const float lumaMax = max(lumaC, max(max(lumaN, lumaS), max(lumaW, lumaE)));
    const float range = lumaMax - lumaMin;
    if (range < max(FXAA_EDGE_THRESHOLD_MIN, lumaMax * FXAA_EDGE_THRESHOLD)) {
        return centre;
    }

    const float lumaNW = LumaAt(uv + float2(-1, -1) * texel);
    const float lumaNE = LumaAt(uv + float2(1, -1) * texel);
    const float lumaSW = LumaAt(uv + float2(-1, 1) * texel);
    const float lumaSE = LumaAt(uv + float2(1, 1) * texel);

    // Which way the edge runs: compare the second differences across rows
    // and across columns.
    const float edgeHorizontal = abs(lumaNW + lumaNE - 2.0f * lumaN) +
                                 2.0f * abs(lumaW + lumaE - 2.0f * lumaC) +
                                 abs(lumaSW + lumaSE - 2.0f * lumaS);
    const float edgeVertical = abs(lumaNW + lumaSW - 2.0f * lumaW) +
                               2.0f * abs(lumaN + lumaS - 2.0f * lumaC) +
                               abs(lumaNE + lumaSE - 2.0f * lumaE);
    const bool horizontal = edgeHorizontal >= edgeVertical;

    // The side of the pixel the edge lies on is the steeper one.
    const float luma1 = horizontal ? lumaN : lumaW;
    const float luma2 = horizontal ? lumaS : lumaE;
    const float gradient1 = luma1 - lumaC;
    const float gradient2 = luma2 - lumaC;
    const bool steeper1 = abs(gradient1) >= abs(gradient2);
    const float gradientScaled = 0.25f * max(abs(gradient1), abs(gradient2));
    float stepLength = horizontal ? texel.y : texel.x;
    float lumaLocalAverage;
    if (steeper1) {
        stepLength = -stepLength;
        lumaLocalAverage = 0.5f * (luma1 + lumaC);
    } else {
        lumaLocalAverage = 0.5f * (luma2 + lumaC);
    }

    // Walk along the edge, half a pixel across, until the luma leaves the
    // edge's average on either side.
    float2 onEdge = uv;
    if (horizontal) {
        onEdge.y += stepLength * 0.5f;
    } else {
        onEdge.x += stepLength * 0.5f;
    }
    const float2 along = horizontal ? float2(texel.x, 0) : float2(0, texel.y);
    float2 uv1 = onEdge - along;
    float2 uv2 = onEdge + along;
    float end1 = LumaAt(uv1) - lumaLocalAverage;
    float end2 = LumaAt(uv2) - lumaLocalAverage;
    bool reached1 = abs(end1) >= gradientScaled;
    bool reached2 = abs(end2) >= gradientScaled;
    [unroll] for (int i = 0; i < FXAA_STEPS; ++i) {
        if (reached1 && reached2) {
            break;
        }
        if (!reached1) {
            uv1 -= along * FxaaStep(i);
            end1 = LumaAt(uv1) - lumaLocalAverage;
            reached1 = abs(end1) >= gradientScaled;
        }
        if (!reached2) {
            uv2 += along * FxaaStep(i);
            end2 = LumaAt(uv2) - lumaLocalAverage;
            reached2 = abs(end2) >= gradientScaled;
        }
    }

    const float distance1 = horizontal ? uv.x - uv1.x : uv.y - uv1.y;
    const float distance2 = horizontal ? uv2.x - uv.x : uv2.y - uv.y;
    const bool nearer1 = distance1 < distance2;
    const float nearest = min(distance1, distance2);
    const float length = distance1 + distance2;
    const float pixelOffset = 0.5f - nearest / length;
    // Only move towards the edge when the end found belongs to this side.
    const bool centreSmaller = lumaC < lumaLocalAverage;
    const bool matches = ((nearer1 ? end1 : end2) < 0.0f) != centreSmaller;
    float offset = matches ? pixelOffset : 0.0f;

    const float lumaAverage =
        (2.0f * (lumaN + lumaS + lumaW + lumaE) + lumaNW + lumaNE + lumaSW + lumaSE) / 12.0f;
    const float sub1 = saturate(abs(lumaAverage - lumaC) / range);
    const float sub2 = (-2.0f * sub1 + 3.0f) * sub1 * sub1;
    offset = max(offset, sub2 * sub2 * kSubpixelQuality);

    float2 result = uv;
    if (horizontal) {
        result.y += offset * stepLength;
    } else {
        result.x += offset * stepLength;
    }
    return g_txScreen.SampleLevel(g_samLinear, result, 0);
}
