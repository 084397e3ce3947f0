#include "DescriptionIndex.h"

namespace orbel::client {

std::shared_ptr<const DescriptionIndex> DescriptionIndex::build(
    protocol::Description&& description) {
  auto index = std::make_shared<DescriptionIndex>();
  index->description_ = std::move(description);
  const auto& subjects = index->description_.subjects;
  index->subjects_.reserve(subjects.size());
  index->perSubject_.resize(subjects.size());
  std::uint32_t segmentAt = 0;
  std::uint32_t markerAt = 0;
  for (std::uint32_t s = 0; s < subjects.size(); ++s) {
    const protocol::SubjectInfo& subject = subjects[s];
    SubjectIndex& entry = index->perSubject_[s];
    index->subjects_.emplace(subject.name, s);
    entry.firstSegment = segmentAt;
    entry.firstMarker = markerAt;
    entry.segments.reserve(subject.segments.size());
    for (std::uint32_t k = 0; k < subject.segments.size(); ++k) {
      entry.segments.emplace(subject.segments[k].name, k);
    }
    entry.markers.reserve(subject.markers.size());
    for (std::uint32_t k = 0; k < subject.markers.size(); ++k) {
      entry.markers.emplace(subject.markers[k], k);
    }
    segmentAt += static_cast<std::uint32_t>(subject.segments.size());
    markerAt += static_cast<std::uint32_t>(subject.markers.size());
  }
  index->segmentTotal_ = segmentAt;
  index->markerTotal_ = markerAt;
  return index;
}

}  // namespace orbel::client
