// Fetches each material's pipelines from the pool, replacing them only when all are made.
#include "render/raster/material_pipelines.h"

#include "render/model/model_resources.h"

namespace qv {

namespace {

HRESULT MainPipelines(PipelinePool& pool, const ShaderSetCode& set, VkCullModeFlags cull,
                      bool eightSamples, std::array<VkPipeline, 3>* out) {
    std::array<VkPipeline, 3> made{};
    for (std::size_t i = 0; i < kMaterialSampleCounts.size(); ++i) {
        if (kMaterialSampleCounts[i] == VK_SAMPLE_COUNT_8_BIT && !eightSamples) {
            continue;
        }
        const HRESULT hr = pool.Get(MainPipelineKey(set, cull, kMaterialSampleCounts[i]), &made[i]);
        if (Failed(hr)) {
            return hr;
        }
    }
    *out = made;
    return S_OK;
}

}  // namespace

HRESULT BuildMaterialPipelines(PipelinePool& pool, const ShaderSetCode& set, bool eightSamples,
                               ModelGpu* model) {
    std::array<VkPipeline, 3> edge{};
    for (std::size_t i = 0; i < kMaterialSampleCounts.size(); ++i) {
        if (kMaterialSampleCounts[i] == VK_SAMPLE_COUNT_8_BIT && !eightSamples) {
            continue;
        }
        if (const HRESULT hr = pool.Get(EdgePipelineKey(kMaterialSampleCounts[i]), &edge[i]);
            Failed(hr)) {
            return hr;
        }
    }
    for (MaterialDraw& draw : model->materials) {
        if (const HRESULT hr =
                MainPipelines(pool, set, draw.cull, eightSamples, &draw.mainPipelines);
            Failed(hr)) {
            return hr;
        }
        draw.edgePipelines = edge;
        draw.shaderSetName = set.name;
        draw.shadowNeedsToon = set.shadowNeedsToon;
    }
    return S_OK;
}

HRESULT ApplyMaterialShader(ModelGpu* model, PipelinePool* pool, bool eightSamples,
                            std::int32_t material, const ShaderSetCode& set) {
    if (model == nullptr || pool == nullptr || material < 0 ||
        static_cast<std::size_t>(material) >= model->materials.size()) {
        return E_FAIL;
    }
    MaterialDraw& draw = model->materials[static_cast<std::size_t>(material)];
    std::array<VkPipeline, 3> made{};
    if (const HRESULT hr = MainPipelines(*pool, set, draw.cull, eightSamples, &made); Failed(hr)) {
        return hr;
    }
    draw.mainPipelines = made;
    draw.shaderSetName = set.name;
    draw.shadowNeedsToon = set.shadowNeedsToon;
    return S_OK;
}

}  // namespace qv
