// What every ray-tracing program shares: payloads, the frame's constants, the scene and random numbers.

struct RayPayload {
    vec3 colour;
    uint depth;  // how many rays led here: bounds reflections and see-through
    uint seed;
};

struct ShadowRayPayload {
    float visible;
};

// RaytracingConstants as the renderer writes them: matrices in row-vector
// form, which the default column-major reading turns into M * v = v x M.
layout(set = 0, binding = 0) uniform SceneBlock {
    mat4 mView;
    mat4 mInverseViewProjection;
    vec4 cameraPos;
    vec4 lightPos;
    vec4 lightDir;
    vec4 lightColor;
    uint diffuseSamples;
    uint shadowSamples;
    uint shaderIndex;
} g_sceneCB;

layout(set = 0, binding = 1) uniform accelerationStructureEXT g_scene;

// Hit groups: radiance 0, shadow 1, two per geometry; misses in the same order.
const uint kRadianceRay = 0;
const uint kShadowRay = 1;
const uint kHitStride = 2;

// What a miss shows: the clear colour of the rasterised frame, so that both
// paths agree on the background.
const vec3 kBackground = vec3(1.0);

uint HashPcg(uint v) {
    uint state = v * 747796405u + 2891336453u;
    uint word = ((state >> ((state >> 28u) + 4u)) ^ state) * 277803737u;
    return (word >> 22u) ^ word;
}

float NextRandom(inout uint seed) {
    seed = HashPcg(seed);
    return float(seed >> 8) * (1.0 / 16777216.0);
}
