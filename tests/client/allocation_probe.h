// Records the largest single allocation made while a probe is active, so
// tests can show that hostile input never makes a decoder reserve more than
// the protocol's limits allow.
#pragma once

#include <cstddef>

namespace orbel::testing {

class AllocationProbe {
 public:
  AllocationProbe();
  ~AllocationProbe();
  std::size_t largest() const;
};

}  // namespace orbel::testing
