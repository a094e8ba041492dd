// Sample for the layering check: the engine below the renderer reaching up into it.
#include "render/vk/gpu_buffers.h"
