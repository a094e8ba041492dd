// The memory hints change how pages arrive, never what a block holds.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/memory_advice.h"

namespace qv {
namespace {

TEST(MemoryAdviceTest, HintsKeepEveryByteOfABlockAndItsNeighbours) {
    // Four huge pages and change, so that both hints act on whole pages
    // inside a block that starts and ends mid-page.
    std::vector<std::uint8_t> block((std::size_t{9} << 20) + 12345);
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(i * 31 + 7);
    }
    const std::vector<std::uint8_t> before = block;
    PreferHugePages(block.data() + 1001, block.size() - 2002);
    PrefaultForWriting(block.data() + 1001, block.size() - 2002);
    EXPECT_TRUE(block == before);
    // Blocks too small to matter, empty ones and none at all change nothing either.
    PrefaultForWriting(block.data() + 3, 100);
    PrefaultForWriting(block.data(), 0);
    PrefaultForWriting(nullptr, 1 << 20);
    PreferHugePages(nullptr, 8 << 20);
    EXPECT_TRUE(block == before);
}

}  // namespace
}  // namespace qv
