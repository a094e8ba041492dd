// The flattening both ground shadow programs share, so that they cover the
// same pixels. The includer has included constants.hlsli.

// Just above y = 0, so that a stage's own floor does not hide the shadow.
static const float kGroundLift = 0.01f;

static const float4 kGroundShadowColour = float4(0.0f, 0.0f, 0.0f, 0.45f);

// A skinned position flattened onto the ground along the light, on the screen.
float4 GroundShadowPosition(float4 world) {
    const float3 l = normalize(lightDir.xyz);
    if (l.y > -0.01f) {
        // A light from the horizon or below throws no shadow on the ground:
        // the vertex goes behind the near plane.
        return float4(0.0f, 0.0f, -1.0f, 1.0f);
    }
    const float3 ground = world.xyz - l * ((world.y - kGroundLift) / l.y);
    return mul(mul(float4(ground, 1.0f), mView), mProjection);
}
