// Subject s's k-th sample of a frame, whose subjects' samples lie one after
// the other; bounds-checked, so a frame laid out wrongly fails the test.
#pragma once

#include <cstddef>
#include <numeric>
#include <vector>

#include "orbel/protocol/messages.h"

namespace orbel_test {

inline std::size_t firstOf(const std::vector<std::uint32_t>& counts, std::size_t s) {
  return std::accumulate(counts.begin(), counts.begin() + static_cast<std::ptrdiff_t>(s),
                         std::size_t{0});
}

inline const auto& segmentOf(const orbel::protocol::Frame& f, std::size_t s, std::size_t k) {
  return f.segments.at(firstOf(f.segmentCounts, s) + k);
}

inline const auto& markerOf(const orbel::protocol::Frame& f, std::size_t s, std::size_t k) {
  return f.markers.at(firstOf(f.markerCounts, s) + k);
}

}  // namespace orbel_test
