// fbvector.h: small fixed vectors: FBVector3<T>, FBVector4<T>, FBColor and the
// SDK's usual names for them.
//
// Side of the boundary: SDK. Header-only value types; indexable [0, n) like an
// array (no bounds check beyond an assert in debug builds). Default
// construction gives all zeros.
#pragma once

#include <cassert>
#include <cstddef>

#include "fbsdk/fbsdk_api.h"

template <typename T>
class FBSDK_API FBVector3 {
 public:
  constexpr FBVector3() noexcept : mValue{T(0), T(0), T(0)} {}
  constexpr FBVector3(T x, T y, T z) noexcept : mValue{x, y, z} {}
  // From three consecutive values.
  explicit FBVector3(const T* values) noexcept : mValue{values[0], values[1], values[2]} {}

  constexpr void Set(T x, T y, T z) noexcept {
    mValue[0] = x;
    mValue[1] = y;
    mValue[2] = z;
  }
  T& operator[](std::size_t i) noexcept {
    assert(i < 3 && "FBVector3 index out of range");
    return mValue[i];
  }
  constexpr const T& operator[](std::size_t i) const noexcept { return mValue[i]; }
  T* data() noexcept { return mValue; }
  const T* data() const noexcept { return mValue; }
  explicit operator T*() noexcept { return mValue; }
  explicit operator const T*() const noexcept { return mValue; }

  constexpr bool operator==(const FBVector3& o) const noexcept {
    return mValue[0] == o.mValue[0] && mValue[1] == o.mValue[1] && mValue[2] == o.mValue[2];
  }
  constexpr bool operator!=(const FBVector3& o) const noexcept { return !(*this == o); }

  T mValue[3];
};

template <typename T>
class FBSDK_API FBVector4 {
 public:
  constexpr FBVector4() noexcept : mValue{T(0), T(0), T(0), T(0)} {}
  constexpr FBVector4(T x, T y, T z, T w) noexcept : mValue{x, y, z, w} {}
  explicit FBVector4(const T* values) noexcept
      : mValue{values[0], values[1], values[2], values[3]} {}

  constexpr void Set(T x, T y, T z, T w) noexcept {
    mValue[0] = x;
    mValue[1] = y;
    mValue[2] = z;
    mValue[3] = w;
  }
  T& operator[](std::size_t i) noexcept {
    assert(i < 4 && "FBVector4 index out of range");
    return mValue[i];
  }
  constexpr const T& operator[](std::size_t i) const noexcept { return mValue[i]; }
  T* data() noexcept { return mValue; }
  const T* data() const noexcept { return mValue; }
  explicit operator T*() noexcept { return mValue; }
  explicit operator const T*() const noexcept { return mValue; }

  constexpr bool operator==(const FBVector4& o) const noexcept {
    return mValue[0] == o.mValue[0] && mValue[1] == o.mValue[1] && mValue[2] == o.mValue[2] &&
           mValue[3] == o.mValue[3];
  }
  constexpr bool operator!=(const FBVector4& o) const noexcept { return !(*this == o); }

  T mValue[4];
};

// A colour: red, green, blue in [0, 1].
class FBSDK_API FBColor : public FBVector3<double> {
 public:
  constexpr FBColor() noexcept = default;
  constexpr FBColor(double red, double green, double blue) noexcept
      : FBVector3<double>(red, green, blue) {}
};

// The SDK's names: translation (x, y, z, 1), rotation in Euler degrees,
// scaling, and a quaternion (x, y, z, w).
using FBTVector = FBVector4<double>;
using FBRVector = FBVector3<double>;
using FBSVector = FBVector3<double>;
using FBQuaternion = FBVector4<double>;
