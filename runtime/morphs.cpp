#include "runtime/morphs.h"

#include "formats/pmx_model.h"
#include "formats/text_decode.h"
#include "platform/memory_advice.h"
#include "runtime/model_instance.h"

void BuildMorphs(ModelInstance& instance, const PmxModel& model) {
    const std::size_t vertexCount = model.vertices.size();
    std::uint32_t vertexMorphs = 0;
    std::uint32_t uvMorphs = 0;
    for (const PmxMorph& morph : model.morphs) {
        vertexMorphs += morph.type == kPmxMorphVertex ? 1 : 0;
        uvMorphs += morph.type == kPmxMorphUv ? 1 : 0;
    }

    instance.vertexCount = static_cast<std::uint32_t>(vertexCount);
    instance.vertexMorphCount = vertexMorphs;
    instance.uvMorphCount = uvMorphs;
    instance.vertexMorphWeights.assign(vertexMorphs, 0.0f);
    instance.uvMorphWeights.assign(uvMorphs, 0.0f);
    // The dense tables run to tens of megabytes for a real model; fresh pages
    // are what they cost, so ask for large ones.
    const std::size_t vertexEntries = std::size_t{vertexMorphs} * vertexCount;
    const std::size_t uvEntries = std::size_t{uvMorphs} * vertexCount;
    instance.vertexMorphOffsets.reserve(vertexEntries);
    PreferHugePages(instance.vertexMorphOffsets.data(), vertexEntries * sizeof(Float3));
    instance.vertexMorphOffsets.assign(vertexEntries, Float3{});
    instance.uvMorphOffsets.reserve(uvEntries);
    PreferHugePages(instance.uvMorphOffsets.data(), uvEntries * sizeof(Float2));
    instance.uvMorphOffsets.assign(uvEntries, Float2{});
    instance.morphWeightByName.clear();
    instance.morphControls.clear();

    auto inRange = [vertexCount](std::int32_t v) {
        return v >= 0 && static_cast<std::size_t>(v) < vertexCount;
    };

    // Each supported morph keeps a pointer to its own weight, so a control
    // reaches its morph even when a later morph of the same name takes the
    // name in the map.
    std::vector<float*> ownWeight(model.morphs.size(), nullptr);
    std::uint32_t vertexK = 0;
    std::uint32_t uvK = 0;
    for (std::size_t m = 0; m < model.morphs.size(); ++m) {
        const PmxMorph& morph = model.morphs[m];
        if (morph.type == kPmxMorphVertex) {
            float* weight = &instance.vertexMorphWeights[vertexK];
            instance.morphWeightByName[morph.name] = weight;
            ownWeight[m] = weight;
            Float3* row = instance.vertexMorphOffsets.data() + std::size_t{vertexK} * vertexCount;
            for (const PmxVertexMorphOffset& offset : morph.vertexOffsets) {
                if (inRange(offset.vertexIndex)) {
                    row[offset.vertexIndex] = offset.offset;
                }
            }
            ++vertexK;
        } else if (morph.type == kPmxMorphUv) {
            float* weight = &instance.uvMorphWeights[uvK];
            instance.morphWeightByName[morph.name] = weight;
            ownWeight[m] = weight;
            Float2* row = instance.uvMorphOffsets.data() + std::size_t{uvK} * vertexCount;
            for (const PmxUvMorphOffset& offset : morph.uvOffsets) {
                if (inRange(offset.vertexIndex)) {
                    row[offset.vertexIndex] = {offset.offset.x, offset.offset.y};
                }
            }
            ++uvK;
        }
    }

    for (std::size_t m = 0; m < model.morphs.size(); ++m) {
        if (ownWeight[m] == nullptr) {
            continue;
        }
        const PmxMorph& morph = model.morphs[m];
        instance.morphControls.push_back(
            {ToUtf8(morph.name), morph.type == kPmxMorphVertex ? "Vertex" : "UV", ownWeight[m]});
    }
}
