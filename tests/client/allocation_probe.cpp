#include "allocation_probe.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> active{false};
std::atomic<std::size_t> largestSeen{0};

void* allocate(std::size_t size) {
  if (active.load(std::memory_order_relaxed)) {
    std::size_t seen = largestSeen.load(std::memory_order_relaxed);
    while (size > seen && !largestSeen.compare_exchange_weak(seen, size)) {
    }
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
}  // namespace

// Replacing the global operators is the one portable hook on every
// allocation a standard container makes.
void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace orbel::testing {

AllocationProbe::AllocationProbe() {
  largestSeen = 0;
  active = true;
}
AllocationProbe::~AllocationProbe() { active = false; }
std::size_t AllocationProbe::largest() const { return largestSeen.load(); }

}  // namespace orbel::testing
