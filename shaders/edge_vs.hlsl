// Pushes the surface out along its normals, by the material's edge size, for the outline.
#include "constants.hlsli"

// The outline: the surface pushed out along its normals. Drawn with front
// faces culled, only the rim of the pushed-out back faces stays visible.
PS_INPUT main(VS_INPUT input) {
    PS_INPUT output;
    const float4 p = float4(input.pos, 1.0f) + float4(input.normal, 0.0f) * edgeSize / 87.04f;
    output.pos = mul(p, mMVP);
    output.normal = float4(input.normal, 0.0f);
    output.uv = input.uv;
    output.worldPos = 0;
    output.worldNormal = 0;
    return output;
}
