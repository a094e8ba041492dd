// Morph offsets as the skinning pass reads them: per vertex, only the morphs that move it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace qv {

// A dense table holds entry (k, v) at k * vertexCount + v, `components`
// floats each, most of them zero: a face morph moves a few hundred of a
// model's vertices. The sparse table is words: vertexCount + 1 start indices
// (vertex v's entries are [start[v], start[v + 1])), then the entries, each
// the morph's index and its `components` offset floats. A vertex's entries
// keep morph order, so the skinning pass adds offsets in the same order as it
// would over the dense table and gets the same sums; zero offsets, which add
// nothing, are left out.
std::vector<std::uint32_t> SparseMorphTable(std::span<const float> dense, std::uint32_t morphCount,
                                            std::uint32_t vertexCount, std::uint32_t components);

}  // namespace qv
