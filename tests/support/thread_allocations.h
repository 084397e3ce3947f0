// Counts the heap allocations made by the calling thread, for tests that
// show a path allocates nothing on the thread that runs it. A test program
// that includes this links thread_allocations.cpp, which replaces the global
// allocation functions for the whole program.
#pragma once

#include <cstdint>

namespace orbel::testing {

// Allocations made so far by the calling thread only: other threads (a
// client's receive thread, a server's) allocate as they please.
std::uint64_t ThreadAllocations() noexcept;

}  // namespace orbel::testing
