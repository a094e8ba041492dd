// Room for a decoder's pixels, faulted in at once.
#include "formats/rgba_image.h"

#include "platform/memory_advice.h"

namespace qv {

void MakeRoomForPixels(std::vector<std::uint8_t>& pixels, std::size_t bytes) {
    pixels.clear();
    pixels.reserve(bytes);
    PreferHugePages(pixels.data(), bytes);
    PrefaultForWriting(pixels.data(), bytes);
    pixels.resize(bytes);
}

}  // namespace qv
