// Covers the screen for the post passes without any vertex buffer.
#include "post.hlsli"

// One triangle that covers the screen, from the vertex index alone.
POST_INPUT main(uint id : SV_VertexID) {
    POST_INPUT output;
    output.uv = float2(float((id * 2) & 2), float(id & 2));
    output.pos = float4(output.uv.x * 2.0f - 1.0f, 1.0f - output.uv.y * 2.0f, 0.0f, 1.0f);
    return output;
}
