// Checks shared by the fuzzers of the capture server's scenes: what any
// scene must answer whatever file it was loaded from.
#pragma once

#include <cmath>
#include <cstddef>

#include "orbel/protocol/messages.h"

namespace orbel::fuzz {

inline bool finite(const double* v, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(v[i])) return false;
  }
  return true;
}

// Per-subject counts as the description has it, and samples to match them.
inline bool laidOutAs(const protocol::Description& description, const protocol::Frame& frame) {
  const auto& subjects = description.subjects;
  if (frame.segmentCounts.size() != subjects.size() ||
      frame.markerCounts.size() != subjects.size()) {
    return false;
  }
  std::size_t segments = 0;
  std::size_t markers = 0;
  for (std::size_t s = 0; s < subjects.size(); ++s) {
    if (frame.segmentCounts[s] != subjects[s].segments.size() ||
        frame.markerCounts[s] != subjects[s].markers.size()) {
      return false;
    }
    segments += subjects[s].segments.size();
    markers += subjects[s].markers.size();
  }
  return frame.segments.size() == segments && frame.markers.size() == markers;
}

}  // namespace orbel::fuzz
