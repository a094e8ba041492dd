// Large generated models for the reader benchmarks: a grid of vertices under a dense index list.
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/pmx_model.h"
#include "tests/support/content_writers.h"

namespace qv {

struct GridShape {
    std::uint32_t vertexCount = 0;
    std::uint32_t columns = 1;  // vertices per grid row
    std::size_t triangles = 0;
    std::uint8_t vertexIndexSize = 4;
};

// The sample model grown to `shape`: BDEF2 vertices on two of 200 bones
// each, triangles spread over the whole grid, and 300 bones that name no
// tail or append parent. Morphs, materials and display frames are the
// sample model's.
inline PmxModel GridModel(const GridShape& shape) {
    PmxModel m = SamplePmxModel();
    m.additionalUvCount = 0;
    m.vertexIndexSize = shape.vertexIndexSize;
    m.boneIndexSize = 2;
    const std::uint32_t columns = shape.columns;
    const float step = 1.0f / static_cast<float>(columns);
    m.vertices.resize(shape.vertexCount);
    for (std::uint32_t i = 0; i < shape.vertexCount; ++i) {
        PmxVertex& v = m.vertices[i];
        v.position = {float(i % columns), float(i / columns), 0.5f};
        v.normal = {0, 0, 1};
        v.uv = {step * float(i % columns), step * float(i / columns)};
        v.weight.deformType = kPmxDeformBdef2;
        v.weight.boneIndex = {int(i % 200), int((i + 1) % 200), 0, 0};
        v.weight.weight = {0.5f, 0.5f, 0, 0};
        v.edgeScale = 1;
    }
    m.indices.resize(3 * shape.triangles);
    for (std::size_t i = 0; i < m.indices.size(); ++i) {
        m.indices[i] = static_cast<std::uint32_t>((i * 7919) % shape.vertexCount);
    }
    m.bones.resize(300, m.bones[1]);
    for (PmxBone& b : m.bones) {
        b.tailIndex = 0;
        b.appendParentIndex = 0;
    }
    return m;
}

}  // namespace qv
