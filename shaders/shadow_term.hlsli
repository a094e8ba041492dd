// The self-shadow term of the built-in pixel programs: 1 where the point is
// lit, 0 where the light's depth map holds something nearer, blended over
// the four nearest texels for a soft edge.

Texture2D<float> shadowMap : register(t8);

float ShadowTerm(float4 worldPos) {
    float4 p = mul(mul(worldPos, lightView), lightProjection);
    p.xyz /= p.w;
    const float2 uv = float2(p.x * 0.5f + 0.5f, 1.0f - (p.y * 0.5f + 0.5f));
    const float reference = p.z - shadowBias;
    uint width, height;
    shadowMap.GetDimensions(width, height);
    const float2 size = float2(width, height);
    const float2 texel = uv * size;
    const int2 base = int2(floor(texel));
    const float2 blend = frac(texel);
    float lit[4];
    [unroll] for (int i = 0; i < 4; ++i) {
        const int2 at = base + int2(i & 1, i >> 1);
        // Outside the map nothing was drawn from the light: lit.
        if (any(at < 0) || at.x >= int(width) || at.y >= int(height)) {
            lit[i] = 1.0f;
        } else {
            lit[i] = shadowMap.Load(int3(at, 0)) >= reference ? 1.0f : 0.0f;
        }
    }
    return lerp(lerp(lit[0], lit[1], blend.x), lerp(lit[2], lit[3], blend.x), blend.y);
}
