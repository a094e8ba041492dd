// Sparse morph tables, built once per model from its morph records at import.
#include "render/model/morph_tables.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <limits>

#include "formats/pmx_model.h"

namespace qv {

namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// One offset of either kind, as the floats the table stores.
std::array<float, 3> Floats(const PmxVertexMorphOffset& o) {
    return {o.offset.x, o.offset.y, o.offset.z};
}
std::array<float, 3> Floats(const PmxUvMorphOffset& o) {
    return {o.offset.x, o.offset.y, 0.0f};
}

// Calls visit(vertex, floats) once per vertex each morph of the type moves,
// morph by morph, with the morph's index among those of its type. `last` is
// vertexCount words of kNone, left as it was found.
template <typename Visit>
void ForEachMove(const PmxModel& model, std::uint32_t morphType, std::vector<std::uint32_t>& last,
                 Visit&& visit) {
    const std::size_t vertexCount = model.vertices.size();
    std::uint32_t k = 0;
    for (const PmxMorph& morph : model.morphs) {
        if (morph.type != morphType) {
            continue;
        }
        const auto walk = [&](const auto& offsets) {
            const auto inRange = [&](std::int32_t v) {
                return v >= 0 && static_cast<std::size_t>(v) < vertexCount;
            };
            for (std::size_t i = 0; i < offsets.size(); ++i) {
                if (inRange(offsets[i].vertexIndex)) {
                    last[static_cast<std::size_t>(offsets[i].vertexIndex)] =
                        static_cast<std::uint32_t>(i);
                }
            }
            for (std::size_t i = 0; i < offsets.size(); ++i) {
                if (!inRange(offsets[i].vertexIndex)) {
                    continue;
                }
                const auto v = static_cast<std::size_t>(offsets[i].vertexIndex);
                if (last[v] != i) {
                    continue;  // a later offset for the same vertex wins
                }
                last[v] = kNone;
                const std::array<float, 3> f = Floats(offsets[i]);
                // NaN counts as moving, so that it reaches the vertex.
                if (!(f[0] == 0.0f && f[1] == 0.0f && f[2] == 0.0f)) {
                    visit(k, v, f);
                }
            }
        };
        if (morphType == kPmxMorphUv) {
            walk(morph.uvOffsets);
        } else {
            walk(morph.vertexOffsets);
        }
        ++k;
    }
}

}  // namespace

std::vector<std::uint32_t> SparseMorphTable(const PmxModel& model, std::uint32_t morphType) {
    const std::size_t vertexCount = model.vertices.size();
    const std::size_t components = morphType == kPmxMorphUv ? 2 : 3;
    std::vector<std::uint32_t> last(vertexCount, kNone);
    std::vector<std::uint32_t> starts(vertexCount + 1, 0);
    ForEachMove(
        model, morphType, last,
        [&](std::uint32_t, std::size_t v, const std::array<float, 3>&) { ++starts[v + 1]; });
    for (std::size_t v = 0; v < vertexCount; ++v) {
        starts[v + 1] += starts[v];
    }
    const std::size_t stride = 1 + components;
    std::vector<std::uint32_t> table(starts.size() + std::size_t{starts.back()} * stride);
    std::copy(starts.begin(), starts.end(), table.begin());
    std::vector<std::uint32_t> next(starts.begin(), starts.end() - 1);
    ForEachMove(model, morphType, last,
                [&](std::uint32_t k, std::size_t v, const std::array<float, 3>& f) {
                    std::uint32_t* entry = table.data() + starts.size() + next[v]++ * stride;
                    entry[0] = k;
                    for (std::size_t c = 0; c < components; ++c) {
                        entry[1 + c] = std::bit_cast<std::uint32_t>(f[c]);
                    }
                });
    return table;
}

}  // namespace qv
