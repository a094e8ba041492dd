// Huge-page hints and one-call prefaults for large blocks, where the system offers them.
#include "platform/memory_advice.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace qv {

namespace {

// The whole aligned units inside [data, data + bytes), as [first, last).
struct Inside {
    std::uintptr_t first = 0;
    std::uintptr_t last = 0;
};
Inside WholeUnits(void* data, std::size_t bytes, std::uintptr_t unit) {
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    return {(start + unit - 1) / unit * unit, (start + bytes) / unit * unit};
}

}  // namespace

void PreferHugePages(void* data, std::size_t bytes) {
    const Inside pages = WholeUnits(data, bytes, std::uintptr_t{2} << 20);
    if (data == nullptr || pages.last <= pages.first) {
        return;
    }
    // Only a hint: where huge pages are off or unavailable nothing changes.
    madvise(reinterpret_cast<void*>(pages.first), pages.last - pages.first, MADV_HUGEPAGE);
}

void PrefaultForWriting(void* data, std::size_t bytes) {
    constexpr std::size_t kWorthIt = std::size_t{64} << 10;
#ifdef MADV_POPULATE_WRITE
    if (data == nullptr || bytes < kWorthIt) {
        return;
    }
    const Inside pages =
        WholeUnits(data, bytes, static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE)));
    if (pages.last > pages.first) {
        madvise(reinterpret_cast<void*>(pages.first), pages.last - pages.first,
                MADV_POPULATE_WRITE);
    }
#else
    (void)data;
    (void)bytes;
    (void)kWorthIt;
#endif
}

}  // namespace qv
