// Sample for the layering check: a pass including what lies below it and the ray tracer beside it.
#include "render/model/model_resources.h"
#include "render/raytracing/raytracing_renderer.h"
#include "render/vk/vulkan_helpers.h"
