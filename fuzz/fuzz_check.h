// What every fuzz target uses to report a wrong result. Under libFuzzer an
// abort is a finding, and the fuzzer keeps the input that caused it. The
// normal test suite compiles the same targets with ORBEL_FUZZ_REPLAY to run
// the kept inputs (fuzz_replay.h); there a wrong result throws, so that one
// bad input fails one test instead of the whole run.
#pragma once

#include <cstdio>
#include <cstdlib>

#ifdef ORBEL_FUZZ_REPLAY
#include <stdexcept>
#include <string>
#endif

namespace orbel::fuzz {

inline void check(bool ok, const char* what) {
  if (ok) return;
#ifdef ORBEL_FUZZ_REPLAY
  throw std::logic_error(std::string("wrong result: ") + what);
#else
  std::fprintf(stderr, "wrong result: %s\n", what);
  std::abort();
#endif
}

}  // namespace orbel::fuzz
