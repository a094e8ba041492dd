// Compiles one raster pipeline from its key; the pool keeps what this makes.
#pragma once

#include <vulkan/vulkan.h>

#include "platform/result_code.h"
#include "render/raster/raster_pipelines.h"

namespace qv {

// E_FAIL when a program does not fit the layout or the driver refuses it,
// E_OUTOFMEMORY when the driver runs out of memory.
HRESULT CreateRasterPipeline(VkDevice device, VkPipelineLayout layout, VkPipelineCache cache,
                             const RasterPipelineKey& key, VkPipeline* out);

}  // namespace qv
