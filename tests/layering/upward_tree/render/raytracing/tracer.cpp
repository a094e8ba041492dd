// Sample for the layering check: the ray tracer reaching up into the scene renderer.
#include "render/model/model_resources.h"
#include "render/scene_renderer.h"
