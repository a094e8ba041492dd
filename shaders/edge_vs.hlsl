// Pushes the surface out along its normals, by the material's edge size, for the outline.
#include "constants.hlsli"

// Edge size 1 is one pixel wide on a frame of this many lines, whatever the
// distance: outlines stay solid lines as the camera moves away, and do not
// swell as it comes close.
static const float kEdgeReferenceLines = 720.0f;

// The outline: the surface pushed out along its normals on screen. Drawn
// with front faces culled, only the rim of the pushed-out back faces stays
// visible. The pixels are flat, so the position is all the program gives.
float4 main(VS_INPUT input) : SV_POSITION {
    float4 clip = mul(float4(input.pos, 1.0f), mMVP);
    const float4 clipNormal = mul(float4(input.normal, 0.0f), mMVP);
    // Where the normal points on screen, in pixels: the change of the
    // projected position along it.
    const float2 toward = (clipNormal.xy * clip.w - clip.xy * clipNormal.w) * viewportSize;
    const float length2 = dot(toward, toward);
    const float width = edgeSize * input.extra.z * viewportSize.y / kEdgeReferenceLines;
    if (length2 > 1e-20f && clip.w > 0.0f) {
        clip.xy += toward * rsqrt(length2) * width * 2.0f / viewportSize * clip.w;
    }
    return clip;
}
