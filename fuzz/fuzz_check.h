// What every fuzz target uses to report a wrong result: the fuzzer treats
// an abort as a finding and keeps the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace orbel::fuzz {

inline void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "wrong result: %s\n", what);
  std::abort();
}

}  // namespace orbel::fuzz
