// The radiance closest-hit program: a material's surface lit by the light, with ray-traced shadow, diffuse light, reflection and see-through.
#version 460
#extension GL_EXT_ray_tracing : require
#extension GL_EXT_buffer_reference : require
#extension GL_EXT_nonuniform_qualifier : require
#extension GL_GOOGLE_include_directive : require
#include "rt_common.glsl"

layout(buffer_reference, std430, buffer_reference_align = 16) readonly buffer MaterialBlock {
    vec4 baseColor;
    vec3 specularColor;
    float specularStrength;
    vec3 ambientColor;
    float edgeSize;
    vec4 edgeColor;
    vec3 emissionColor;
    float emissionStrength;
    float metallic;
    float roughness;
    float reflective;
    uint receiveShadow;
    uint sphereMode;
    uint textureBind[8];
};
layout(buffer_reference, std430, buffer_reference_align = 4) readonly buffer IndexBlock {
    uint index[];
};
// The 64-byte vertex as 16 words: position, normal, uv, then skinning data.
layout(buffer_reference, std430, buffer_reference_align = 4) readonly buffer VertexBlock {
    float word[];
};

// The geometry's local arguments, in the order of its shader record.
layout(shaderRecordEXT, std430) buffer LocalArguments {
    uint cullMode;    // 0 single-sided, 1 double-sided
    uint firstIndex;  // of the material in the model's index buffer
    uint materialIndex;
    uint vertexCount;
    uint maxDepth;  // the pipeline's recursion limit
    uint castShadow;
    uint reserved1;
    uint reserved2;
    MaterialBlock l_material;
    IndexBlock l_indices;
    VertexBlock l_vertices;
    uvec2 l_texture[8];  // slots in g_textures: base, sphere, toon
} l_geometry;

layout(set = 1, binding = 0) uniform sampler2D g_textures[];

layout(location = 0) rayPayloadInEXT RayPayload payload;
layout(location = 1) rayPayloadEXT ShadowRayPayload shadowPayload;
layout(location = 2) rayPayloadEXT RayPayload child;
hitAttributeEXT vec2 barycentrics;

// Rays spent beyond the first hit: each reflection or see-through step costs
// one level, and so do the shadow and diffuse rays of a surface.
const uint kDepthLimit = 8;

bool CanTrace() {
    return payload.depth + 2 <= min(l_geometry.maxDepth, kDepthLimit);
}

vec3 VertexVec3(uint vertex, uint word) {
    const uint base = vertex * 16 + word;
    return vec3(l_geometry.l_vertices.word[base], l_geometry.l_vertices.word[base + 1],
                l_geometry.l_vertices.word[base + 2]);
}

vec2 VertexUv(uint vertex) {
    const uint base = vertex * 16 + 6;
    return vec2(l_geometry.l_vertices.word[base], l_geometry.l_vertices.word[base + 1]);
}

vec4 Sample(uint slot, vec2 uv) {
    return texture(g_textures[nonuniformEXT(l_geometry.l_texture[slot].x)], uv);
}

bool Finite(vec3 v) {
    return !any(isnan(v)) && !any(isinf(v));
}

// A direction about n, denser towards n (cosine-weighted).
vec3 CosineDirection(vec3 n, float u1, float u2) {
    const float r = sqrt(u1);
    const float phi = 6.2831853 * u2;
    const vec3 helper = abs(n.y) < 0.99 ? vec3(0.0, 1.0, 0.0) : vec3(1.0, 0.0, 0.0);
    const vec3 t = normalize(cross(helper, n));
    const vec3 b = cross(n, t);
    return normalize(t * (r * cos(phi)) + b * (r * sin(phi)) + n * sqrt(max(0.0, 1.0 - u1)));
}

float TraceShadow(vec3 origin, vec3 direction, float reach) {
    // Surfaces that cast no shadow let the ray through, as many times as
    // the recursion left over allows.
    const uint levels = min(l_geometry.maxDepth, kDepthLimit);
    shadowPayload.visible = -float(levels > payload.depth + 2 ? levels - (payload.depth + 2) : 0);
    traceRayEXT(g_scene, gl_RayFlagsTerminateOnFirstHitEXT | gl_RayFlagsCullBackFacingTrianglesEXT, 0xFF, kShadowRay, kHitStride,
                kShadowRay, origin, 0.001, direction, reach, 1);
    return shadowPayload.visible;
}

// The share of shadow rays towards the light that get through; the rays
// spread over a small cone so that the shadow's border is soft.
float LightVisibility(vec3 p, vec3 toLight, uint samples) {
    const vec3 helper = abs(toLight.y) < 0.99 ? vec3(0.0, 1.0, 0.0) : vec3(1.0, 0.0, 0.0);
    const vec3 t = normalize(cross(helper, toLight));
    const vec3 b = cross(toLight, t);
    float visible = 0.0;
    for (uint i = 0; i < samples; ++i) {
        const float angle = 6.2831853 * (float(i) + NextRandom(payload.seed)) / float(samples);
        const float spread = 0.02 * sqrt(NextRandom(payload.seed));
        const vec3 d = normalize(toLight + (t * cos(angle) + b * sin(angle)) * spread);
        visible += TraceShadow(p, d, 10000.0);
    }
    return visible / float(samples);
}

// The share of the sky above the point that nothing nearby hides: the
// diffuse light that reaches it from all around.
float SkyVisibility(vec3 p, vec3 n, uint samples) {
    float visible = 0.0;
    for (uint i = 0; i < samples; ++i) {
        const float u1 = (float(i) + NextRandom(payload.seed)) / float(samples);
        visible += TraceShadow(p, CosineDirection(n, u1, NextRandom(payload.seed)), 8.0);
    }
    return visible / float(samples);
}

vec3 TraceRadiance(vec3 origin, vec3 direction) {
    child.colour = kBackground;
    child.depth = payload.depth + 1;
    child.seed = HashPcg(payload.seed);
    traceRayEXT(g_scene, gl_RayFlagsCullBackFacingTrianglesEXT, 0xFF, kRadianceRay, kHitStride, kRadianceRay, origin,
                0.001, direction, 10000.0, 2);
    payload.seed = child.seed;
    return child.colour;
}

void main() {
    const uint corner = l_geometry.firstIndex + 3 * gl_PrimitiveID;
    const uint i0 = l_geometry.l_indices.index[corner];
    const uint i1 = l_geometry.l_indices.index[corner + 1];
    const uint i2 = l_geometry.l_indices.index[corner + 2];
    const vec3 w = vec3(1.0 - barycentrics.x - barycentrics.y, barycentrics.x, barycentrics.y);
    const vec3 direction = gl_WorldRayDirectionEXT;
    const vec3 p = gl_WorldRayOriginEXT + direction * gl_HitTEXT;

    // The face's own normal stands in where the vertex normals are unusable.
    const vec3 p0 = VertexVec3(i0, 0), p1 = VertexVec3(i1, 0), p2 = VertexVec3(i2, 0);
    vec3 faceNormal = cross(p1 - p0, p2 - p0);
    faceNormal = dot(faceNormal, faceNormal) > 0.0 && Finite(faceNormal) ? normalize(faceNormal)
                                                                          : -direction;
    vec3 n = VertexVec3(i0, 3) * w.x + VertexVec3(i1, 3) * w.y + VertexVec3(i2, 3) * w.z;
    n = dot(n, n) > 1e-12 && Finite(n) ? normalize(n) : faceNormal;
    if (dot(n, direction) > 0.0) {
        n = -n;  // the side the ray came from
    }
    const vec2 uv = VertexUv(i0) * w.x + VertexUv(i1) * w.y + VertexUv(i2) * w.z;
    MaterialBlock m = l_geometry.l_material;
    const bool toonLook = g_sceneCB.shaderIndex == 1;

    vec4 colour = m.textureBind[0] != 0 ? Sample(0, uv) : m.baseColor;
    const float alpha = m.baseColor.a <= 0.01 ? 0.0 : colour.a;
    if (alpha <= 0.01) {
        // Invisible here: the ray goes on as if the surface were not there.
        payload.colour = CanTrace() ? TraceRadiance(p, direction) : kBackground;
        return;
    }
    // Secondary surfaces get one ray of each kind: their share of the
    // picture is small.
    const uint diffuseSamples = payload.depth == 0 ? max(g_sceneCB.diffuseSamples, 1u) : 1u;
    const uint shadowSamples = payload.depth == 0 ? max(g_sceneCB.shadowSamples, 1u) : 1u;
    const vec3 toLight = normalize(-g_sceneCB.lightDir.xyz);
    const vec3 offsetPoint = p + n * 0.002;
    const bool canTrace = CanTrace();
    const float shadow = canTrace && m.receiveShadow != 0 && dot(n, toLight) > 0.0
                             ? LightVisibility(offsetPoint, toLight, shadowSamples)
                             : 1.0;
    const float sky = canTrace ? SkyVisibility(offsetPoint, n, diffuseSamples) : 1.0;
    const vec3 light = g_sceneCB.lightColor.rgb * g_sceneCB.lightColor.w;
    const vec3 toEye = -direction;

    vec3 rgb;
    if (toonLook) {
        const vec3 viewNormal = (g_sceneCB.mView * vec4(n, 0.0)).xyz;
        const vec2 s = viewNormal.xy * 0.5 + 0.5;
        if (m.textureBind[1] != 0) {
            const vec3 sphere = Sample(1, vec2(s.x, 1.0 - s.y)).rgb;
            colour.rgb = m.sphereMode == 1 ? colour.rgb * sphere
                         : m.sphereMode == 2 ? colour.rgb + sphere
                                             : colour.rgb;
        }
        colour.rgb *= clamp(light * m.baseColor.rgb + m.ambientColor, 0.0, 1.0);
        const float t = (dot(toLight, n) * 0.5 + 0.5) - 0.3 * (1.0 - shadow);
        const vec3 toon = m.textureBind[2] != 0 ? Sample(2, vec2(0.5, 1.0 - clamp(t, 0.0, 1.0))).rgb
                                                : vec3(mix(0.75, 1.0, step(0.5, t)));
        rgb = colour.rgb * toon * mix(0.8, 1.0, sky);
    } else {
        const float lambert = max(dot(n, toLight), 0.0) * shadow;
        rgb = colour.rgb * (light * lambert + m.ambientColor * 0.5 + vec3(0.35) * sky);
    }
    if (m.specularStrength > 0.0) {
        const vec3 h = normalize(toEye + toLight);
        rgb += clamp(pow(max(dot(n, h), 0.0), m.specularStrength) * m.specularColor, 0.0, 1.0) *
               shadow;
    }
    // Reflection, as strong as the reflective value, tinted by the specular colour.
    const vec3 mirror = clamp(m.reflective * m.specularColor, 0.0, 1.0);
    if (canTrace && max(mirror.r, max(mirror.g, mirror.b)) > 0.001) {
        const vec3 reflected = TraceRadiance(offsetPoint, reflect(direction, n));
        rgb = rgb * (1.0 - mirror) + reflected * mirror;
    }
    if (m.emissionStrength != 0.0) {
        rgb += any(notEqual(m.emissionColor, vec3(0.0))) ? m.emissionColor * m.emissionStrength
                                                         : rgb * m.emissionStrength;
    }
    rgb = clamp(rgb, 0.0, 1.0);
    if (alpha < 0.99 && canTrace) {
        rgb = mix(TraceRadiance(p, direction), rgb, alpha);
    }
    payload.colour = rgb;
}
