// Reads a model's materials into draw ranges, pipeline flags and shader constants.
#include "render/model/material_table.h"

#include <algorithm>

#include "formats/pmx_model.h"
#include "render/model/toon_textures.h"

namespace qv {

namespace {

void Copy3(const Float4& v, float out[3]) {
    out[0] = v.x;
    out[1] = v.y;
    out[2] = v.z;
}

}  // namespace

void BuildMaterials(const PmxModel& model, const std::vector<bool>& absent,
                    std::vector<MaterialDraw>* draws, std::vector<MaterialConstants>* constants) {
    const auto textureCount = static_cast<std::uint32_t>(model.textures.size());
    auto modelTexture = [&](std::int32_t index) {
        const auto i = static_cast<std::uint32_t>(index);
        return i < textureCount && !(i < absent.size() && absent[i]) ? index : -1;
    };
    draws->clear();
    constants->clear();
    std::uint32_t firstIndex = 0;
    for (const PmxMaterial& m : model.materials) {
        MaterialDraw draw;
        draw.name = m.name;
        // A range past the end of the index list would read outside the
        // index buffer: it is cut to what the list holds.
        const auto available = static_cast<std::uint32_t>(
            model.indices.size() - std::min<std::size_t>(firstIndex, model.indices.size()));
        draw.indexCount = std::min(m.indexCount, available);
        draw.firstIndex = std::min<std::size_t>(firstIndex, model.indices.size());
        firstIndex = draw.firstIndex + draw.indexCount;
        draw.doubleSided = (m.drawFlags & kPmxMaterialDoubleSided) != 0;
        draw.cull = draw.doubleSided ? VK_CULL_MODE_NONE : VK_CULL_MODE_BACK_BIT;
        // The self-shadow map takes its casters from their own flag; the
        // ground-shadow flag is a different effect.
        draw.castShadow = (m.drawFlags & kPmxMaterialCastsShadow) != 0;
        draw.groundShadow = (m.drawFlags & kPmxMaterialGroundShadow) != 0;
        draw.drawEdge = (m.drawFlags & kPmxMaterialEdge) != 0;
        draw.baseTexture = modelTexture(m.textureIndex);
        const bool hasSphere = m.sphereMode >= 1 && m.sphereMode <= 3;
        draw.sphereTexture = hasSphere ? modelTexture(m.sphereTextureIndex) : -1;
        draw.sharedToon = m.sharedToon != 0;
        if (draw.sharedToon) {
            // Shared toon n (0 to 9) is the ramp toon{n+1}; other numbers have none.
            draw.toonTexture =
                static_cast<std::uint32_t>(m.toonIndex) < kToonCount ? m.toonIndex : -1;
        } else {
            draw.toonTexture = modelTexture(m.toonIndex);
        }

        MaterialConstants c{};
        c.baseColor[0] = m.diffuse.x;
        c.baseColor[1] = m.diffuse.y;
        c.baseColor[2] = m.diffuse.z;
        c.baseColor[3] = m.diffuse.w;
        Copy3(m.specular, c.specularColor);
        c.specularStrength = m.specularPower;
        Copy3(m.ambient, c.ambientColor);
        c.edgeSize = m.edgeSize;
        c.edgeColor[0] = m.edgeColor.x;
        c.edgeColor[1] = m.edgeColor.y;
        c.edgeColor[2] = m.edgeColor.z;
        c.edgeColor[3] = m.edgeColor.w;
        c.receiveShadow = (m.drawFlags & kPmxMaterialReceivesShadow) != 0 ? 1 : 0;
        c.sphereMode = draw.sphereTexture >= 0 ? m.sphereMode : 0;
        c.textureBind[0] = draw.baseTexture >= 0 ? 1 : 0;
        c.textureBind[1] = draw.sphereTexture >= 0 ? 1 : 0;
        c.textureBind[2] = draw.toonTexture >= 0 ? 1 : 0;
        draws->push_back(std::move(draw));
        constants->push_back(c);
    }
}

void UseModelToons(const std::array<std::int32_t, 10>& ownToons, std::vector<MaterialDraw>* draws) {
    for (MaterialDraw& draw : *draws) {
        if (draw.sharedToon && draw.toonTexture >= 0 &&
            static_cast<std::size_t>(draw.toonTexture) < ownToons.size() &&
            ownToons[static_cast<std::size_t>(draw.toonTexture)] >= 0) {
            draw.toonTexture = ownToons[static_cast<std::size_t>(draw.toonTexture)];
            draw.sharedToon = false;
        }
    }
}

MaterialConstants MorphedMaterialConstants(const MaterialConstants& base,
                                           const MaterialMorphResult& morph) {
    MaterialConstants c = base;
    const MaterialMorphValues& mul = morph.multiply;
    const MaterialMorphValues& add = morph.add;
    auto apply = [](float* values, const float* m, const float* a, int n) {
        for (int i = 0; i < n; ++i) {
            values[i] = values[i] * m[i] + a[i];
        }
    };
    apply(c.baseColor, &mul.diffuse.x, &add.diffuse.x, 4);
    apply(c.specularColor, &mul.specular.x, &add.specular.x, 3);
    apply(&c.specularStrength, &mul.specularPower, &add.specularPower, 1);
    apply(c.ambientColor, &mul.ambient.x, &add.ambient.x, 3);
    apply(c.edgeColor, &mul.edgeColor.x, &add.edgeColor.x, 4);
    apply(&c.edgeSize, &mul.edgeSize, &add.edgeSize, 1);
    return c;
}

CasterCut CasterCutOf(const MaterialConstants& c, std::uint8_t leastAlpha) {
    const float alpha = c.baseColor[3];
    if (alpha <= kAlphaCutoff) {
        return CasterCut::Everything;
    }
    if (c.textureBind[0] == 0) {
        return CasterCut::Nothing;
    }
    // A filtered texel lies between the texels it mixes; one step below the
    // least of them covers a sampler that rounds down. A NaN alpha
    // makes every comparison false and keeps the program, as before.
    const float least = static_cast<float>(std::max(leastAlpha, std::uint8_t{1}) - 1) / 255.0f;
    return least * alpha > kAlphaCutoff ? CasterCut::Nothing : CasterCut::ByTexel;
}

}  // namespace qv
