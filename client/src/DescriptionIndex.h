// A received description with hashed name indices, built once when the
// description arrives so every query by name is constant time.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "orbel/protocol/messages.h"

namespace orbel::client {

class DescriptionIndex {
 public:
  static constexpr std::uint32_t npos = 0xFFFFFFFFu;

  // Takes the description over; the indices point into its strings, which
  // therefore never move again.
  static std::shared_ptr<const DescriptionIndex> build(protocol::Description&& description);

  std::uint32_t id() const { return description_.id; }
  const std::vector<protocol::SubjectInfo>& subjects() const { return description_.subjects; }

  // Index of the first subject of that name, or npos. Names may repeat on
  // the wire; the first one wins, as a scan would find it.
  std::uint32_t subject(std::string_view name) const { return find(subjects_, name); }
  std::uint32_t segment(std::uint32_t subject, std::string_view name) const {
    return find(perSubject_[subject].segments, name);
  }
  std::uint32_t marker(std::uint32_t subject, std::string_view name) const {
    return find(perSubject_[subject].markers, name);
  }

  // Where a subject's samples start in a frame's flat arrays.
  std::uint32_t firstSegment(std::uint32_t subject) const {
    return perSubject_[subject].firstSegment;
  }
  std::uint32_t firstMarker(std::uint32_t subject) const {
    return perSubject_[subject].firstMarker;
  }
  std::uint32_t segmentTotal() const { return segmentTotal_; }
  std::uint32_t markerTotal() const { return markerTotal_; }

 private:
  using Map = std::unordered_map<std::string_view, std::uint32_t>;

  struct SubjectIndex {
    Map segments;
    Map markers;
    std::uint32_t firstSegment = 0;
    std::uint32_t firstMarker = 0;
  };

  static std::uint32_t find(const Map& map, std::string_view name) {
    const auto it = map.find(name);
    return it == map.end() ? npos : it->second;
  }

  protocol::Description description_;
  Map subjects_;
  std::vector<SubjectIndex> perSubject_;
  std::uint32_t segmentTotal_ = 0;
  std::uint32_t markerTotal_ = 0;
};

}  // namespace orbel::client
