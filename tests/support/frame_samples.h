// A frame carries every subject's samples one after the other; tests reach
// subject s's k-th sample through these (bounds-checked, so a frame laid out
// wrongly fails the test instead of reading past it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <numeric>
#include <vector>

#include "orbel/protocol/messages.h"

namespace orbel_test {

// Where subject s's samples start in a section with these per-subject counts.
inline std::size_t firstOf(const std::vector<std::uint32_t>& counts, std::size_t s) {
  return std::accumulate(counts.begin(), counts.begin() + static_cast<std::ptrdiff_t>(s),
                         std::size_t{0});
}

inline const orbel::protocol::SegmentSample& segmentOf(const orbel::protocol::Frame& f,
                                                       std::size_t s, std::size_t k) {
  return f.segments.at(firstOf(f.segmentCounts, s) + k);
}

inline const orbel::protocol::MarkerSample& markerOf(const orbel::protocol::Frame& f, std::size_t s,
                                                     std::size_t k) {
  return f.markers.at(firstOf(f.markerCounts, s) + k);
}

}  // namespace orbel_test
