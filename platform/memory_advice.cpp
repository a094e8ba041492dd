// Hints huge pages for a large block, only where whole 2 MiB pages fit inside it.
#include "platform/memory_advice.h"

#include <sys/mman.h>

#include <cstdint>

namespace qv {

void PreferHugePages(void* data, std::size_t bytes) {
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = (start + bytes) & ~(kHugePage - 1);
    if (data == nullptr || last <= first) {
        return;
    }
    // Only a hint: where huge pages are off or unavailable nothing changes.
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace qv
