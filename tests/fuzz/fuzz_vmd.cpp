// Feeds arbitrary bytes to the motion reader: no crash, and no key from too few bytes.
#include <cstddef>
#include <cstdint>

#include "formats/vmd_motion.h"

using namespace qv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    VmdMotion motion;
    ParseVmdMotion(motion, {data, size});
    std::size_t keys =
        motion.cameraKeys.size() + motion.lightKeys.size() + motion.shadowKeys.size();
    for (const auto& [name, list] : motion.boneKeys)
        keys += list.size();
    for (const auto& [name, list] : motion.morphKeys)
        keys += list.size();
    if (keys * 9 > size) {
        __builtin_trap();  // a key was made from fewer bytes than any key holds
    }
    return 0;
}
