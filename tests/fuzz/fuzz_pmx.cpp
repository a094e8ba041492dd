// Feeds arbitrary bytes to the model reader: no crash, and no more records than bytes.
#include <cstddef>
#include <cstdint>

#include "formats/pmx_model.h"

using namespace qv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    PmxModel model;
    ParsePmxModel(model, {data, size});
    // Records never outnumber the bytes that carried them.
    const std::size_t records =
        model.vertices.size() + model.indices.size() + model.textures.size() +
        model.materials.size() + model.bones.size() + model.morphs.size() +
        model.displayFrames.size() + model.rigidBodies.size() + model.joints.size();
    if (records > size) {
        __builtin_trap();
    }
    return 0;
}
