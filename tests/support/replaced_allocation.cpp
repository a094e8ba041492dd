// Replaces the global allocation functions; compiled into the executables that count or fail
// allocations only.
#include "tests/support/replaced_allocation.h"

#include <cstdlib>
#include <new>

namespace qv {

std::atomic<long> gAllocations{0};
std::atomic<std::size_t> gLargestAllocation{kNoAllocationLimit};

}  // namespace qv

namespace {

void* TryAllocate(std::size_t size) noexcept {
    qv::gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (size > qv::gLargestAllocation.load(std::memory_order_relaxed)) {
        return nullptr;
    }
    return std::malloc(size == 0 ? 1 : size);
}

void* Allocate(std::size_t size) {
    if (void* p = TryAllocate(size)) {
        return p;
    }
    throw std::bad_alloc();
}

}  // namespace

// Nothing in the tests is over-aligned, so the plain and nothrow forms see every
// allocation (sorting takes its buffer through nothrow).
void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return TryAllocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return TryAllocate(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
