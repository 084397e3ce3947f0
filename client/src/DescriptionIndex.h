// A received description with hashed name indices, built once when the
// description arrives so every query by name is constant time.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "orbel/protocol/messages.h"

namespace orbel::client {

// Open-addressing table from names to their position. Every query of a
// frame looks a name up here (about three thousand a frame on a large
// stage), so probes touch one flat array and compare a stored hash before
// any text.
class NameTable {
 public:
  static constexpr std::uint32_t npos = 0xFFFFFFFFu;

  // The views must outlive the table. A name given twice keeps its first
  // position, as a scan from the front would find it.
  void assign(const std::vector<std::string_view>& names, std::uint64_t seed);

  std::uint32_t find(std::string_view name) const {
    if (slots_.empty()) return npos;
    const std::uint64_t hash = hashOf(name, seed_);
    for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
      const Slot& slot = slots_[i];
      if (slot.index == npos) return npos;
      if (slot.hash == hash && slot.size == name.size() &&
          std::memcmp(slot.data, name.data(), name.size()) == 0) {
        return slot.index;
      }
    }
  }

  static std::uint64_t hashOf(std::string_view name, std::uint64_t seed) {
    // Eight bytes at a time with a multiply-xorshift mix, the last word
    // read so that it ends at the name's end (overlapping the one before):
    // names are short, and a byte-wise loop costs more than the rest of a
    // query.
    constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
    const char* p = name.data();
    const std::size_t size = name.size();
    std::uint64_t h = seed ^ (size * kMultiplier);
    auto mix = [&h](std::uint64_t word) {
      h = (h ^ word) * kMultiplier;
      h ^= h >> 29;
    };
    if (size >= 8) {
      std::size_t at = 0;
      for (; at + 8 < size; at += 8) mix(load(p + at, 8));
      mix(load(p + size - 8, 8));
    } else if (size >= 4) {
      mix(load(p, 4) | load(p + size - 4, 4) << 32);
    } else if (size > 0) {
      mix(static_cast<std::uint64_t>(static_cast<unsigned char>(p[0])) |
          static_cast<std::uint64_t>(static_cast<unsigned char>(p[size / 2])) << 8 |
          static_cast<std::uint64_t>(static_cast<unsigned char>(p[size - 1])) << 16);
    }
    h *= kMultiplier;
    return h ^ (h >> 32);
  }

 private:
  // bytes is 4 or 8, a constant at every call, so the copy is one load.
  static std::uint64_t load(const char* p, std::size_t bytes) {
    if (bytes == 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      return word;
    }
    std::uint32_t word;
    std::memcpy(&word, p, 4);
    return word;
  }

  struct Slot {
    std::uint64_t hash = 0;
    const char* data = nullptr;
    std::uint32_t size = 0;
    std::uint32_t index = npos;  // npos: empty
  };
  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  std::uint64_t seed_ = 0;
};

class DescriptionIndex {
 public:
  static constexpr std::uint32_t npos = NameTable::npos;

  // Takes the description over; the indices point into its strings, which
  // therefore never move again.
  static std::shared_ptr<const DescriptionIndex> build(protocol::Description&& description);

  std::uint32_t id() const { return description_.id; }
  const std::vector<protocol::SubjectInfo>& subjects() const { return description_.subjects; }

  // Index of the first subject of that name, or npos. Names may repeat on
  // the wire; the first one wins, as a scan would find it.
  std::uint32_t subject(std::string_view name) const { return subjects_.find(name); }
  std::uint32_t segment(std::uint32_t subject, std::string_view name) const {
    return perSubject_[subject].segments.find(name);
  }
  std::uint32_t marker(std::uint32_t subject, std::string_view name) const {
    return perSubject_[subject].markers.find(name);
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
  struct SubjectIndex {
    NameTable segments;
    NameTable markers;
    std::uint32_t firstSegment = 0;
    std::uint32_t firstMarker = 0;
  };

  protocol::Description description_;
  NameTable subjects_;
  std::vector<SubjectIndex> perSubject_;
  std::uint32_t segmentTotal_ = 0;
  std::uint32_t markerTotal_ = 0;
};

}  // namespace orbel::client
