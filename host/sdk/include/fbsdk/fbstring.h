// fbstring.h: FBString, the SDK's small text value.
//
// Side of the boundary: SDK. Header-only value type.
//
// An FBString owns a copy of its text (never null: a null const char* makes
// an empty string). It converts implicitly to const char*; that pointer stays
// valid until the string is next modified or destroyed. FBString is a plain
// value: a single object is not safe for concurrent modification; properties
// (fbproperty.h) add the locking where host threads share a text.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

#include "fbsdk/fbsdk_api.h"

class FBSDK_API FBString {
 public:
  FBString() = default;
  // NOLINTNEXTLINE(google-explicit-constructor): used like a text
  FBString(const char* text) : mText(text ? text : "") {}
  // NOLINTNEXTLINE(google-explicit-constructor)
  FBString(std::string text) : mText(std::move(text)) {}
  // The two texts joined, as the real SDK's two-argument constructor (null = empty).
  FBString(const char* first, const char* second)
      : mText(std::string(first ? first : "") + (second ? second : "")) {}

  // NOLINTNEXTLINE(google-explicit-constructor): reads like a C text
  operator const char*() const noexcept { return mText.c_str(); }
  const char* Buffer() const noexcept { return mText.c_str(); }
  const std::string& str() const noexcept { return mText; }

  int GetLen() const noexcept { return static_cast<int>(mText.size()); }
  bool IsEmpty() const noexcept { return mText.empty(); }

  // Index of the first occurrence of c at or after start, or -1.
  int Find(char c, int start = 0) const noexcept {
    if (start < 0) start = 0;
    const auto pos = mText.find(c, static_cast<std::size_t>(start));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
  }
  // The first count characters (all of them when count exceeds the length; empty when negative).
  FBString Left(int count) const {
    return count <= 0 ? FBString() : FBString(mText.substr(0, static_cast<std::size_t>(count)));
  }
  // The characters from start on, at most count of them (count < 0: to the end).
  FBString Mid(int start, int count = -1) const {
    if (start < 0) start = 0;
    if (static_cast<std::size_t>(start) >= mText.size()) return FBString();
    return FBString(
        count < 0 ? mText.substr(static_cast<std::size_t>(start))
                  : mText.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(count)));
  }

  FBString& operator+=(const FBString& other) {
    mText += other.mText;
    return *this;
  }
  FBString& operator+=(const char* other) {
    mText += other ? other : "";
    return *this;
  }

  friend FBString operator+(const FBString& a, const FBString& b) {
    return FBString(a.mText + b.mText);
  }
  friend FBString operator+(const FBString& a, const char* b) {
    return FBString(a.mText + (b ? b : ""));
  }
  friend FBString operator+(const char* a, const FBString& b) {
    return FBString((a ? a : "") + b.mText);
  }

  // Exact, byte-wise comparisons.
  friend bool operator==(const FBString& a, const FBString& b) noexcept {
    return a.mText == b.mText;
  }
  friend bool operator==(const FBString& a, const char* b) noexcept {
    return a.mText == (b ? b : "");
  }
  friend bool operator==(const char* a, const FBString& b) noexcept { return b == a; }
  friend bool operator!=(const FBString& a, const FBString& b) noexcept { return !(a == b); }
  friend bool operator!=(const FBString& a, const char* b) noexcept { return !(a == b); }
  friend bool operator!=(const char* a, const FBString& b) noexcept { return !(b == a); }
  friend bool operator<(const FBString& a, const FBString& b) noexcept { return a.mText < b.mText; }

 private:
  std::string mText;
};
