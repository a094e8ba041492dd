// Binds each material to its shader set's pipelines, per sample count, and swaps the set.
#pragma once

#include <vulkan/vulkan.h>

#include <array>
#include <cstdint>

#include "platform/result_code.h"
#include "render/raster/raster_pipelines.h"

namespace qv {

struct ModelGpu;

// The sample counts of a material's pipelines, in the order they are kept.
inline constexpr std::array<VkSampleCountFlagBits, 3> kMaterialSampleCounts = {
    VK_SAMPLE_COUNT_1_BIT, VK_SAMPLE_COUNT_4_BIT, VK_SAMPLE_COUNT_8_BIT};

// Gives every material of a model its six pipelines: main with `set` at 1,
// 4 and 8 samples (8 only with `eightSamples`), then edge at the same counts.
HRESULT BuildMaterialPipelines(PipelinePool& pool, const ShaderSetCode& set, bool eightSamples,
                               ModelGpu* model);

// Switches one material's main pipelines to another shader set. Only when
// all of them can be made are they replaced and the set's name stored; the
// edge pipelines stay. E_FAIL for a missing model or a material index out of
// range, otherwise the pipeline creation's result.
HRESULT ApplyMaterialShader(ModelGpu* model, PipelinePool* pool, bool eightSamples,
                            std::int32_t material, const ShaderSetCode& set);

}  // namespace qv
