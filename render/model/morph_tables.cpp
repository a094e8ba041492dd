// Sparse morph tables, built once per model from the dense ones at import.
#include "render/model/morph_tables.h"

#include <algorithm>
#include <bit>
#include <cstddef>

namespace qv {

std::vector<std::uint32_t> SparseMorphTable(std::span<const float> dense, std::uint32_t morphCount,
                                            std::uint32_t vertexCount, std::uint32_t components) {
    const std::size_t entrySize = std::size_t{components};
    // A short table (a morph without its offsets) reads as zeros past its end.
    const std::size_t morphs =
        entrySize == 0 || vertexCount == 0
            ? 0
            : std::min<std::size_t>(morphCount, dense.size() / (entrySize * vertexCount));
    const auto moves = [&](std::size_t k, std::size_t v) {
        const float* offset = dense.data() + (k * vertexCount + v) * entrySize;
        for (std::size_t c = 0; c < entrySize; ++c) {
            if (offset[c] != 0.0f) {
                return true;  // NaN too, so that it reaches the vertex as before
            }
        }
        return false;
    };
    // Counted morph by morph: the dense table is read in its own order.
    std::vector<std::uint32_t> starts(std::size_t{vertexCount} + 1, 0);
    for (std::size_t k = 0; k < morphs; ++k) {
        for (std::size_t v = 0; v < vertexCount; ++v) {
            starts[v + 1] += moves(k, v) ? 1 : 0;
        }
    }
    for (std::size_t v = 0; v < vertexCount; ++v) {
        starts[v + 1] += starts[v];
    }
    const std::size_t stride = 1 + entrySize;
    std::vector<std::uint32_t> table(starts.size() + starts.back() * stride);
    std::copy(starts.begin(), starts.end(), table.begin());
    std::vector<std::uint32_t> next(starts.begin(), starts.end() - 1);
    for (std::size_t k = 0; k < morphs; ++k) {
        for (std::size_t v = 0; v < vertexCount; ++v) {
            if (!moves(k, v)) {
                continue;
            }
            std::uint32_t* entry = table.data() + starts.size() + next[v]++ * stride;
            entry[0] = static_cast<std::uint32_t>(k);
            const float* offset = dense.data() + (k * vertexCount + v) * entrySize;
            for (std::size_t c = 0; c < entrySize; ++c) {
                entry[1 + c] = std::bit_cast<std::uint32_t>(offset[c]);
            }
        }
    }
    return table;
}

}  // namespace qv
