// A model's material records seen as the values the model setting window edits.
#include "render/model/material_values.h"

#include <algorithm>

#include "formats/text_decode.h"
#include "render/model/model_resources.h"

namespace qv {

namespace {

template <std::size_t N>
void CopyFloats(const float (&from)[N], float (&to)[N]) {
    std::copy(std::begin(from), std::end(from), std::begin(to));
}

bool InRange(const ModelGpu& model, std::int32_t material) {
    return material >= 0 && static_cast<std::size_t>(material) < model.materials.size() &&
           static_cast<std::size_t>(material) < model.materialConstants.size();
}

}  // namespace

std::vector<std::string> MaterialNames(const ModelGpu& model) {
    std::vector<std::string> names;
    names.reserve(model.materials.size());
    for (const MaterialDraw& draw : model.materials) {
        names.push_back(ToUtf8(draw.name));
    }
    return names;
}

bool ReadMaterialValues(const ModelGpu& model, std::int32_t material, MaterialValues* out) {
    if (!InRange(model, material)) {
        return false;
    }
    const MaterialDraw& draw = model.materials[static_cast<std::size_t>(material)];
    const MaterialConstants& c = model.materialConstants[static_cast<std::size_t>(material)];
    MaterialValues& v = *out;
    CopyFloats(c.baseColor, v.baseColor);
    CopyFloats(c.specularColor, v.specularColor);
    v.specularStrength = c.specularStrength;
    CopyFloats(c.ambientColor, v.ambientColor);
    v.drawEdge = draw.drawEdge;
    v.edgeSize = c.edgeSize;
    CopyFloats(c.edgeColor, v.edgeColor);
    CopyFloats(c.emissionColor, v.emissionColor);
    v.emissionStrength = c.emissionStrength;
    v.metallic = c.metallic;
    v.roughness = c.roughness;
    v.reflective = c.reflective;
    v.castShadow = draw.castShadow;
    v.receiveShadow = c.receiveShadow != 0;
    v.shaderName = draw.shaderSetName;
    return true;
}

void WriteMaterialValues(ModelGpu& model, std::int32_t material, const MaterialValues& values) {
    MaterialValues current;
    if (!ReadMaterialValues(model, material, &current)) {
        return;
    }
    MaterialValues v = values;
    SanitizeMaterialValues(v, current);
    MaterialDraw& draw = model.materials[static_cast<std::size_t>(material)];
    MaterialConstants& c = model.materialConstants[static_cast<std::size_t>(material)];
    CopyFloats(v.baseColor, c.baseColor);
    CopyFloats(v.specularColor, c.specularColor);
    c.specularStrength = v.specularStrength;
    CopyFloats(v.ambientColor, c.ambientColor);
    draw.drawEdge = v.drawEdge;
    c.edgeSize = v.edgeSize;
    CopyFloats(v.edgeColor, c.edgeColor);
    CopyFloats(v.emissionColor, c.emissionColor);
    c.emissionStrength = v.emissionStrength;
    c.metallic = v.metallic;
    c.roughness = v.roughness;
    c.reflective = v.reflective;
    draw.castShadow = v.castShadow;
    c.receiveShadow = v.receiveShadow ? 1 : 0;
}

}  // namespace qv
