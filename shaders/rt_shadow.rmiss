// The shadow miss program: nothing lies between the point and the light.
#version 460
#extension GL_EXT_ray_tracing : require
#extension GL_GOOGLE_include_directive : require
#include "rt_common.glsl"

layout(location = 1) rayPayloadInEXT ShadowRayPayload shadowPayload;

void main() {
    shadowPayload.visible = 1.0;
}
