// A model's material records seen as the values the model setting window edits.
#include "render/model/material_values.h"

#include <algorithm>

#include "formats/text_decode.h"
#include "render/model/model_resources.h"

namespace qv {

namespace {

// Copies one value between a material record and the edited values, in
// either direction: the shadow flag is a number in the constants and a bool
// in the values.
template <std::size_t N>
void Assign(float (&to)[N], const float (&from)[N]) {
    std::copy(std::begin(from), std::end(from), std::begin(to));
}
void Assign(bool& to, std::uint32_t from) {
    to = from != 0;
}
void Assign(std::uint32_t& to, bool from) {
    to = from ? 1 : 0;
}
template <class T>
void Assign(T& to, const T& from) {
    to = from;
}

// Every value the window edits with the record field that holds it, so that
// reading and writing cannot drift apart. With kToValues the record is read
// into `v`, otherwise `v` is stored into the record.
template <bool kToValues, class Draw, class Constants, class Values>
void Exchange(Draw& draw, Constants& c, Values& v) {
    auto pair = [](auto& stored, auto& value) {
        if constexpr (kToValues) {
            Assign(value, stored);
        } else {
            Assign(stored, value);
        }
    };
    pair(c.baseColor, v.baseColor);
    pair(c.specularColor, v.specularColor);
    pair(c.specularStrength, v.specularStrength);
    pair(c.ambientColor, v.ambientColor);
    pair(draw.drawEdge, v.drawEdge);
    pair(c.edgeSize, v.edgeSize);
    pair(c.edgeColor, v.edgeColor);
    pair(c.emissionColor, v.emissionColor);
    pair(c.emissionStrength, v.emissionStrength);
    pair(c.metallic, v.metallic);
    pair(c.roughness, v.roughness);
    pair(c.reflective, v.reflective);
    pair(draw.castShadow, v.castShadow);
    pair(c.receiveShadow, v.receiveShadow);
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
    Exchange<true>(draw, c, *out);
    out->shaderName = draw.shaderSetName;
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
    Exchange<false>(draw, c, v);
}

}  // namespace qv
