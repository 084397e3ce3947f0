// A received description with hashed name indices, built once when the
// description arrives so every query by name is constant time.
#pragma once

#include <atomic>
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

  // Looks the name up through a hint left by an earlier lookup of the same
  // name object (see the client's String): when it names this table and the
  // name at its position is this one, no hashing is needed. Otherwise this
  // is the plain lookup, and a found position becomes the new hint.
  std::uint32_t find(std::string_view name, std::atomic<std::uint64_t>& hint) const {
    const std::uint32_t at = hinted(hint.load(std::memory_order_relaxed));
    if (at != npos) {
      const Known& known = names_[at];
      if (known.size == name.size() && sameText(known.data, name.data(), name.size())) {
        return at;
      }
    }
    return findAndHint(name, hint);
  }

  // The same for a hint that only lookups of this very text ever wrote (the
  // client's String: its text changes only by assignment, which takes the
  // other's hint along). A hint of this table then needs no comparison of
  // the text: only this table writes hints that pass hinted(), and it writes
  // each one for the text found at that position.
  std::uint32_t findByOwnHint(std::string_view name, std::atomic<std::uint64_t>& hint) const {
    const std::uint32_t at = hinted(hint.load(std::memory_order_relaxed));
    if (at != npos) return at;
    return findAndHint(name, hint);
  }
  std::uint32_t find(std::string_view name) const {
    if (slots_.empty()) return npos;
    const std::uint64_t hash = hashOf(name, seed_);
    for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
      const Slot& slot = slots_[i];
      if (slot.index == npos) return npos;
      if (slot.hash == hash && slot.size == name.size() &&
          sameText(slot.data, name.data(), name.size())) {
        return slot.index;
      }
    }
  }

  // Whether two texts of the same size match. Word-wise like the hash, for
  // the same reason: a call to memcmp costs more than comparing a short name.
  static bool sameText(const char* a, const char* b, std::size_t size) {
    if (size >= 8) {
      std::size_t at = 0;
      for (; at + 8 < size; at += 8) {
        if (load(a + at, 8) != load(b + at, 8)) return false;
      }
      return load(a + size - 8, 8) == load(b + size - 8, 8);
    }
    if (size >= 4) {
      return ((load(a, 4) ^ load(b, 4)) | (load(a + size - 4, 4) ^ load(b + size - 4, 4))) == 0;
    }
    for (std::size_t i = 0; i < size; ++i) {
      if (a[i] != b[i]) return false;
    }
    return true;
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
  // A hint is the position in its low half and, in its high half, the
  // table's tag plus the position times an odd step (modulo 2^32): a hint
  // whose position was changed, or one of another table, fails the check
  // (tags differ between live tables, and the step is invertible). Tables
  // made after the tag count ran out (hintLimit_ 0) neither write nor take
  // hints, so no tag is ever shared by two tables that use them.
  static constexpr std::uint32_t kHintStep = 0x9E3779B9u;
  std::uint64_t hintAt(std::uint32_t at) const {
    return static_cast<std::uint64_t>(tag_ + at * kHintStep) << 32 | at;
  }
  std::uint32_t hinted(std::uint64_t hint) const {
    const auto at = static_cast<std::uint32_t>(hint);
    const auto check = static_cast<std::uint32_t>(hint >> 32);
    return (check == tag_ + at * kHintStep && at < hintLimit_) ? at : npos;
  }

  // Out of line, so that the hinted lookups above stay small enough to be
  // inlined into every query.
  std::uint32_t findAndHint(std::string_view name, std::atomic<std::uint64_t>& hint) const;

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
  // Position -> name, for checking hints. A name given twice is known at
  // its first position only; the others have a size no name has, so that a
  // hint can never find a position the plain lookup would not.
  struct Known {
    const char* data = nullptr;
    std::size_t size = 0;
  };
  static constexpr std::size_t kNoName = ~std::size_t{0};
  std::vector<Known> names_;
  // Tells this table's hints from every other table's in the process; 0 is
  // never the tag of a table that takes hints, so a fresh hint (0) matches
  // none.
  std::uint32_t tag_ = 0;
  // Positions below this may be taken from a hint: the number of names, or
  // 0 for a table that takes no hints.
  std::uint32_t hintLimit_ = 0;
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
  // The same, through the lookup hint of the client's String that holds the
  // name (see NameTable::findByOwnHint): only that String's lookups write it.
  using Hint = std::atomic<std::uint64_t>;
  std::uint32_t subject(std::string_view name, Hint& hint) const {
    return subjects_.findByOwnHint(name, hint);
  }
  std::uint32_t segment(std::uint32_t subject, std::string_view name, Hint& hint) const {
    return perSubject_[subject].segments.findByOwnHint(name, hint);
  }
  std::uint32_t marker(std::uint32_t subject, std::string_view name, Hint& hint) const {
    return perSubject_[subject].markers.findByOwnHint(name, hint);
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
