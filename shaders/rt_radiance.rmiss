// The radiance miss program: rays that leave the scene see the background.
#version 460
#extension GL_EXT_ray_tracing : require
#extension GL_GOOGLE_include_directive : require
#include "rt_common.glsl"

layout(location = 0) rayPayloadInEXT RayPayload payload;

void main() {
    payload.colour = kBackground;
}
