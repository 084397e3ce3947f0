#include "DescriptionIndex.h"

#include <atomic>
#include <chrono>

namespace orbel::client {

namespace {

// Differs from description to description and run to run, so that a server
// cannot pick names that all land in one probe chain.
std::uint64_t nextSeed() {
  static std::atomic<std::uint64_t> counter{0};
  const auto now =
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  return NameTable::hashOf(std::string_view(), now + counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
}

// 0 once the tags have run out (after four billion tables): a reused tag
// could make one table take another's hint for its own.
std::uint32_t nextTag() {
  static std::atomic<std::uint64_t> counter{0};
  const std::uint64_t tag = counter.fetch_add(1, std::memory_order_relaxed) + 1;
  return tag > 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(tag);
}

}  // namespace

void NameTable::assign(const std::vector<std::string_view>& names, std::uint64_t seed) {
  seed_ = seed;
  tag_ = nextTag();
  hintLimit_ = (tag_ == 0 || names.size() >= npos) ? 0 : static_cast<std::uint32_t>(names.size());
  names_.assign(names.size(), Known{nullptr, kNoName});
  std::size_t capacity = 8;
  // At most half full, so that probe chains stay short.
  while (capacity < 2 * names.size()) capacity *= 2;
  slots_.assign(capacity, Slot{});
  mask_ = capacity - 1;
  for (std::uint32_t k = 0; k < names.size(); ++k) {
    const std::string_view name = names[k];
    const std::uint64_t hash = hashOf(name, seed_);
    for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
      Slot& slot = slots_[i];
      if (slot.index == npos) {
        slot = Slot{hash, name.data(), static_cast<std::uint32_t>(name.size()), k};
        names_[k] = Known{name.data(), name.size()};
        break;
      }
      if (slot.hash == hash && slot.size == name.size() &&
          std::memcmp(slot.data, name.data(), name.size()) == 0) {
        break;  // the first of a repeated name stays
      }
    }
  }
}

std::uint32_t NameTable::findAndHint(std::string_view name,
                                     std::atomic<std::uint64_t>& hint) const {
  const std::uint32_t found = find(name);
  if (found != npos && found < hintLimit_) hint.store(hintAt(found), std::memory_order_relaxed);
  return found;
}

std::shared_ptr<const DescriptionIndex> DescriptionIndex::build(
    protocol::Description&& description) {
  auto index = std::make_shared<DescriptionIndex>();
  index->description_ = std::move(description);
  const auto& subjects = index->description_.subjects;
  index->perSubject_.resize(subjects.size());
  const std::uint64_t seed = nextSeed();
  std::vector<std::string_view> names;
  names.reserve(subjects.size());
  for (const protocol::SubjectInfo& subject : subjects) names.emplace_back(subject.name);
  index->subjects_.assign(names, seed);
  std::uint32_t segmentAt = 0;
  std::uint32_t markerAt = 0;
  for (std::uint32_t s = 0; s < subjects.size(); ++s) {
    const protocol::SubjectInfo& subject = subjects[s];
    SubjectIndex& entry = index->perSubject_[s];
    entry.firstSegment = segmentAt;
    entry.firstMarker = markerAt;
    names.clear();
    for (const protocol::SegmentInfo& segment : subject.segments) names.emplace_back(segment.name);
    entry.segments.assign(names, seed);
    names.clear();
    for (const std::string& marker : subject.markers) names.emplace_back(marker);
    entry.markers.assign(names, seed);
    segmentAt += static_cast<std::uint32_t>(subject.segments.size());
    markerAt += static_cast<std::uint32_t>(subject.markers.size());
  }
  index->segmentTotal_ = segmentAt;
  index->markerTotal_ = markerAt;
  return index;
}

}  // namespace orbel::client
