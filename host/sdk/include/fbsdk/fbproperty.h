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
// the reader or writer. A property class that wires every one of its objects
// alike (a model reference) wires with SetAccess, plain functions of the
// property, and so does not carry two std::function objects per property.
//
// Size. A scene holds tens of thousands of properties, most never wired and
// locked only to copy a few bytes: the lock is one byte and the std::function
// wiring lives apart, made on first use, so that a property costs little
// more than its value (binding a large stage pays for every page it touches).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "fbsdk/fbsdk_api.h"
#include "fbsdk/fbstring.h"
#include "fbsdk/fbtime.h"

namespace fbsdk_detail {

// A lock of one byte for values that are copied in and out while it is
// held, so that holders never keep it long: a waiter spins on one atomic and
// yields its core, where a mutex would cost forty bytes and two calls into
// the thread library for every read.
class ValueLock {
 public:
  void lock() const noexcept {
    while (mHeld.exchange(true, std::memory_order_acquire)) {
      while (mHeld.load(std::memory_order_relaxed)) std::this_thread::yield();
    }
  }
  void unlock() const noexcept { mHeld.store(false, std::memory_order_release); }

 private:
  mutable std::atomic<bool> mHeld{false};
};

}  // namespace fbsdk_detail

template <typename T>
class FBSDK_API FBPropertyBase {
 public:
  using ValueType = T;
  using Getter = std::function<T()>;
  using Setter = std::function<bool(const T&)>;
  // Wiring shared by every object of a property class: both entries may be
  // null.
  struct Access {
    T (*get)(const FBPropertyBase& property);
    bool (*set)(FBPropertyBase& property, const T& value);
  };

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
    if (mWiring && mWiring->getter) return mWiring->getter();
    if (mAccess != nullptr && mAccess->get != nullptr) return mAccess->get(*this);
    std::lock_guard<const fbsdk_detail::ValueLock> lock(mLock);
    return mValue;
  }
  operator T() const { return Get(); }  // NOLINT(google-explicit-constructor): reads like a value

  // Assigns. Answers false when the property is read-only (nothing changes) or
  // when its wired setter refuses the value (the setter decides what changes).
  bool Set(const T& value) {
    if (mReadOnly.load(std::memory_order_relaxed)) return false;
    if (mWiring && mWiring->setter) return mWiring->setter(value);
    if (mAccess != nullptr && mAccess->set != nullptr) return mAccess->set(*this, value);
    Store(value);
    return true;
  }

  bool IsReadOnly() const noexcept { return mReadOnly.load(std::memory_order_relaxed); }

  // ---- owner wiring (see the file comment) ----
  void SetReadOnly(bool readOnly) noexcept { mReadOnly.store(readOnly, std::memory_order_relaxed); }
  // A getter or setter wired here is asked before the access functions.
  void SetGetter(Getter getter) { Wiring().getter = std::move(getter); }
  void SetSetter(Setter setter) { Wiring().setter = std::move(setter); }
  // `access` must outlive the property (a static table).
  void SetAccess(const Access* access) noexcept { mAccess = access; }
  // Writes the stored value, bypassing read-only and the setter.
  void Store(const T& value) {
    std::lock_guard<const fbsdk_detail::ValueLock> lock(mLock);
    mValue = value;
  }
  // The stored value, bypassing the getter.
  T Stored() const {
    std::lock_guard<const fbsdk_detail::ValueLock> lock(mLock);
    return mValue;
  }

 private:
  struct Functions {
    Getter getter;
    Setter setter;
  };
  Functions& Wiring() {
    if (!mWiring) mWiring = std::make_unique<Functions>();
    return *mWiring;
  }

  const Access* mAccess = nullptr;
  std::unique_ptr<Functions> mWiring;
  fbsdk_detail::ValueLock mLock;
  std::atomic<bool> mReadOnly{false};
  T mValue{};
};

using FBPropertyBool = FBPropertyBase<bool>;
using FBPropertyInt = FBPropertyBase<int>;
using FBPropertyDouble = FBPropertyBase<double>;
using FBPropertyString = FBPropertyBase<FBString>;
using FBPropertyTime = FBPropertyBase<FBTime>;
