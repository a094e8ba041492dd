// Morph offsets as the skinning pass reads them: per vertex, only the morphs that move it.
#pragma once

#include <cstdint>
#include <vector>

namespace qv {

struct PmxModel;

// The table of the model's vertex morphs (`morphType` kPmxMorphVertex, 3
// offset floats per entry) or UV morphs (kPmxMorphUv, 2 floats), in words:
// vertexCount + 1 start indices (vertex v's entries are [start[v],
// start[v + 1])), then the entries, each the morph's index among the morphs
// of its type and its offset floats. A vertex's entries keep morph order, so
// the skinning pass adds offsets in file order. A vertex listed twice by one
// morph takes its last offset; vertices outside the model and offsets that
// are all zero, which add nothing, are left out.
std::vector<std::uint32_t> SparseMorphTable(const PmxModel& model, std::uint32_t morphType);

}  // namespace qv
