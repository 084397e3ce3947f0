#include "thread_allocations.h"

#include <cstdlib>
#include <new>

// The replacement pairs malloc with free on purpose, which the compiler
// cannot see across the replaced operators.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
thread_local std::uint64_t tAllocations = 0;
}  // namespace

std::uint64_t orbel::testing::ThreadAllocations() noexcept { return tAllocations; }

void* operator new(std::size_t size) {
  ++tAllocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  ++tAllocations;
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
