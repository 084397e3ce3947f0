// The library's side of Diagnostics.h: GetFrame reports each frame it hands
// out. Private to the library.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace orbel::client {

// previousNumber: the number of the frame this client took before, when
// hadPrevious. Never throws; takes only the diagnostics lock.
void RecordFrameTaken(std::uint64_t number, std::int64_t serverSendTimeNs,
                      std::int64_t receiveTimeNs, bool hadPrevious,
                      std::uint64_t previousNumber) noexcept;

// A frame taken carries another description than the one before it: its
// subject names, in order. Only on a change, so a steady stream copies no
// names.
void RecordDescriptionTaken(std::vector<std::string> subjectNames) noexcept;

// An answer that held a value that is not finite. Lock-free.
void RecordNonFiniteAnswer() noexcept;

// Whether all n values are finite; counts one non-finite answer when not.
// Inline: every query of a frame passes here, thousands a frame, and a call
// costs more than the test.
// x * 0 is 0 for every finite x and NaN otherwise, so one test covers all
// n values: a branch per value cost more than the products.
inline bool CheckFinite(const double* values, int n) noexcept {
  double zeros = 0.0;
  for (int i = 0; i < n; ++i) zeros += values[i] * 0.0;
  if (std::isfinite(zeros)) return true;
  RecordNonFiniteAnswer();
  return false;
}

}  // namespace orbel::client
