// The global allocation functions of a test executable that compiles replaced_allocation.cpp:
// every allocation is counted, and one larger than a limit fails as on a full machine.
#pragma once

#include <atomic>
#include <cstddef>

namespace qv {

// Allocations made so far, through any form of operator new.
extern std::atomic<long> gAllocations;
// An allocation larger than this fails (std::bad_alloc, or null from the nothrow forms).
extern std::atomic<std::size_t> gLargestAllocation;
inline constexpr std::size_t kNoAllocationLimit = ~std::size_t{0};

}  // namespace qv
