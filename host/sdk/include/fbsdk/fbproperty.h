// fbproperty.h: typed host properties: object state that reads and assigns
// like a value and is safe to share between host threads.
//
// Side of the boundary: SDK. Header-only.
//
// The host exposes the state of its objects as properties (a device's Online
// flag, a model's Show flag, a template's Model). Host threads share them: the
// UI thread assigns while the input and evaluation threads read. Each property
// therefore guards its value with its own lock; a read answers a copy (a text
// is copied under the lock), so a reader never sees a half-written value.
// Consistency across two properties is not promised.
//
// Use:
//   FBPropertyBool Online;      bool on = Online;     Online = true;
//   FBPropertyString Status;    FBString s = Status;  Status = "Started";
// Assignment from another property copies the value, not the wiring.
//
// Owner wiring (host side, or the class that owns the property): a property
// can be made read-only, can answer from a getter instead of its stored value,
// and can pass assignments to a setter instead of storing them (the setter may
// call Store to keep the value). Wire a property once, in its owner's
// constructor, before any other thread can see it; the wiring is not guarded.
// Getters and setters run without the property's lock held, on the thread of
// the reader or writer.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <utility>

#include "fbsdk/fbsdk_api.h"
#include "fbsdk/fbstring.h"
#include "fbsdk/fbtime.h"

template <typename T>
class FBSDK_API FBPropertyBase {
 public:
  using ValueType = T;
  using Getter = std::function<T()>;
  using Setter = std::function<bool(const T&)>;

  FBPropertyBase() = default;
  explicit FBPropertyBase(T initial) : mValue(std::move(initial)) {}
  FBPropertyBase(const FBPropertyBase&) = delete;
  ~FBPropertyBase() = default;

  FBPropertyBase& operator=(const T& value) {
    Set(value);
    return *this;
  }
  FBPropertyBase& operator=(const FBPropertyBase& other) {
    if (this != &other) Set(other.Get());
    return *this;
  }

  // The current value (the getter's answer when one is wired).
  T Get() const {
    if (mGetter) return mGetter();
    std::lock_guard<std::mutex> lock(mLock);
    return mValue;
  }
  operator T() const { return Get(); }  // NOLINT(google-explicit-constructor): reads like a value

  // Assigns. Answers false when the property is read-only (nothing changes) or
  // when its wired setter refuses the value (the setter decides what changes).
  bool Set(const T& value) {
    if (mReadOnly.load(std::memory_order_relaxed)) return false;
    if (mSetter) return mSetter(value);
    Store(value);
    return true;
  }

  bool IsReadOnly() const noexcept { return mReadOnly.load(std::memory_order_relaxed); }

  // ---- owner wiring (see the file comment) ----
  void SetReadOnly(bool readOnly) noexcept { mReadOnly.store(readOnly, std::memory_order_relaxed); }
  void SetGetter(Getter getter) { mGetter = std::move(getter); }
  void SetSetter(Setter setter) { mSetter = std::move(setter); }
  // Writes the stored value, bypassing read-only and the setter.
  void Store(const T& value) {
    std::lock_guard<std::mutex> lock(mLock);
    mValue = value;
  }
  // The stored value, bypassing the getter.
  T Stored() const {
    std::lock_guard<std::mutex> lock(mLock);
    return mValue;
  }

 private:
  mutable std::mutex mLock;
  T mValue{};
  Getter mGetter;
  Setter mSetter;
  std::atomic<bool> mReadOnly{false};
};

using FBPropertyBool = FBPropertyBase<bool>;
using FBPropertyInt = FBPropertyBase<int>;
using FBPropertyDouble = FBPropertyBase<double>;
using FBPropertyString = FBPropertyBase<FBString>;
using FBPropertyTime = FBPropertyBase<FBTime>;
