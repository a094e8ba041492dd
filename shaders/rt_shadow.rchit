// The shadow closest-hit program: something blocks the way to the light, unless it casts no shadow or cannot be seen.
#version 460
#extension GL_EXT_ray_tracing : require
#extension GL_EXT_buffer_reference : require
#extension GL_GOOGLE_include_directive : require
#include "rt_common.glsl"

layout(buffer_reference, std430, buffer_reference_align = 16) readonly buffer MaterialBlock {
    vec4 baseColor;
};

// The same local arguments as the radiance hit group's; only these are read.
layout(shaderRecordEXT, std430) buffer LocalArguments {
    uint cullMode;
    uint firstIndex;
    uint materialIndex;
    uint vertexCount;
    uint maxDepth;
    uint castShadow;
    uint reserved1;
    uint reserved2;
    MaterialBlock l_material;
} l_geometry;

// Arrives holding minus the number of further surfaces the ray may pass.
layout(location = 1) rayPayloadInEXT ShadowRayPayload shadowPayload;
layout(location = 3) rayPayloadEXT ShadowRayPayload onward;

void main() {
    const bool blocks = l_geometry.castShadow != 0 && l_geometry.l_material.baseColor.a > 0.01;
    const float passes = -shadowPayload.visible;
    if (blocks || passes < 1.0) {
        shadowPayload.visible = 0.0;
        return;
    }
    onward.visible = -(passes - 1.0);
    traceRayEXT(g_scene, gl_RayFlagsTerminateOnFirstHitEXT | gl_RayFlagsCullBackFacingTrianglesEXT,
                0xFF, kShadowRay, kHitStride, kShadowRay,
                gl_WorldRayOriginEXT + gl_WorldRayDirectionEXT * gl_HitTEXT, 0.001,
                gl_WorldRayDirectionEXT, 10000.0, 3);
    shadowPayload.visible = onward.visible;
}
