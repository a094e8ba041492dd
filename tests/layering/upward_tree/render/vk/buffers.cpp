// Sample for the layering check: a Vulkan building block that knows about models.
#include "render/model/model_resources.h"
#include "render/vk/vulkan_helpers.h"
