// A small effect shader in the player's contract, for tests that compile or import one.
#pragma once

namespace qv {

// A textured model: the vertex stage reads mMVP from b0, the pixel stage
// samples t0 with s0. Entry points VS and PS, as an imported effect has them.
inline constexpr const char* kTexturedEffect = R"(
cbuffer SceneConstants : register(b0) { float4x4 mMVP; };
Texture2D g_texture : register(t0);
SamplerState g_samWarp : register(s0);
struct VS_OUT { float4 pos : SV_POSITION; float2 uv : TEXCOORD0; };
VS_OUT VS(float3 pos : POSITION, float2 uv : TEXCOORD0) {
    VS_OUT o;
    o.pos = mul(float4(pos, 1), mMVP);
    o.uv = uv;
    return o;
}
float4 PS(VS_OUT i) : SV_TARGET { return g_texture.Sample(g_samWarp, i.uv); }
)";

}  // namespace qv
