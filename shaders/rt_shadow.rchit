// The shadow closest-hit program: something blocks the way to the light.
#version 460
#extension GL_EXT_ray_tracing : require
#extension GL_GOOGLE_include_directive : require
#include "rt_common.glsl"

layout(location = 1) rayPayloadInEXT ShadowRayPayload shadowPayload;

void main() {
    shadowPayload.visible = 0.0;
}
