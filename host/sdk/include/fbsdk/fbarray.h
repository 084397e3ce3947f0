// fbarray.h: FBArrayTemplate<T>, the SDK's small growable array of values
// (usually pointers), as host calls fill it for a plug-in.
//
// Side of the boundary: SDK. Header-only value type; one object is not safe
// for concurrent modification. Indexes run from 0 to GetCount() - 1; an
// index outside that range is answered with a default value (null for a
// pointer) or ignored, never undefined behaviour.
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

template <typename T>
class FBArrayTemplate {
 public:
  FBArrayTemplate() = default;

  // Appends the item and answers its index.
  int Add(T item) {
    mItems.push_back(std::move(item));
    return static_cast<int>(mItems.size()) - 1;
  }
  // The index of the first item equal to `item`, or -1.
  int Find(const T& item) const {
    const auto it = std::find(mItems.begin(), mItems.end(), item);
    return it == mItems.end() ? -1 : static_cast<int>(it - mItems.begin());
  }
  // Removes the item at the index; false (nothing removed) when out of range.
  bool RemoveAt(int index) {
    if (!InRange(index)) return false;
    mItems.erase(mItems.begin() + index);
    return true;
  }
  // Removes the first item equal to `item`; false when there is none.
  bool Remove(const T& item) { return RemoveAt(Find(item)); }
  void Clear() { mItems.clear(); }

  int GetCount() const { return static_cast<int>(mItems.size()); }
  // The item at the index, or T() when out of range.
  T GetAt(int index) const {
    return InRange(index) ? mItems[static_cast<std::size_t>(index)] : T();
  }
  T operator[](int index) const { return GetAt(index); }

 private:
  bool InRange(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < mItems.size();
  }
  std::vector<T> mItems;
};
