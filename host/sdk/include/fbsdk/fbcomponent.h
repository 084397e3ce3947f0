// fbcomponent.h: FBComponent, the base of every host object that has a name, a
// host handle and a life cycle (devices, templates, models, controls, ...).
//
// Side of the boundary: SDK. Implemented in libfbsdk (runtime/src/fbcomponent.cpp).
//
// Allocation. FBComponent's operator new and operator delete are the host's
// component allocator: every component made on the heap (by a plug-in's
// factory, by the host, by a device building templates) goes through them,
// and the host counts the outstanding allocations. Components may also live
// on the stack or as members; those are not allocations.
//
// Life. The constructor registers the component with the host (it becomes
// findable by its handle and counts as alive); the destructor unregisters it.
// FBCreate is the second construction step the creator calls after `new`;
// FBDestroy is the first destruction step. FBDelete is the one way to end a
// component that the system allocated: it marks the component destroying,
// calls FBDestroy, and when mAllocated is set deletes the object. For a
// component not allocated by the system (stack, member) FBDelete runs
// FBDestroy only, and the owner still destroys the object. A second FBDelete
// on a component that is not freed is a no-op.
//
// Names. A component has a name and an optional namespace. Its label name
// (LongName) is "namespace:name", or the bare name in no namespace; it is the
// name a lookup by label uses. Assigning LongName splits the text at its first
// ':' into namespace and name (no ':' means no namespace); assigning Name
// changes the name and keeps the namespace. Both are safe to read on one
// thread while another assigns.
//
// Threads. Construction, FBCreate, FBDelete and destruction happen on one
// thread at a time per component (the caller's). The type queries, the names,
// GetHIObject and GetObjectStatus may be used from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>

#include "fbsdk/fbplug.h"
#include "fbsdk/fbproperty.h"
#include "fbsdk/fbsdk_api.h"

// Life-cycle states a component can be in; several may be set at once.
enum FBObjectStatus {
  kFBStatusNone = 0,
  kFBStatusCreating = 1,    // the host is creating the object (factory or scene load running)
  kFBStatusStoring = 2,     // the host is writing the object to a scene file
  kFBStatusRetrieving = 4,  // the host is reading the object from a scene file
  kFBStatusDestroying = 8,  // FBDelete has begun on the object
  kFBStatusMerging = 16,    // the host is merging a scene file into the object
};

class FBComponent;

// A component's Name or LongName. Reads and assigns like an FBPropertyString,
// but the text lives in the component, reached through functions its class
// shares: a scene holds thousands of components, and two full string
// properties apiece that never hold a value of their own doubled the size of
// the smaller ones. Read-only refuses assignment (false, nothing changes).
class FBSDK_API FBPropertyComponentName {
 public:
  using ValueType = FBString;
  struct Access {
    FBString (*get)(const FBComponent& owner);
    bool (*set)(FBComponent& owner, const FBString& value);  // may be null: refuses
  };

  FBPropertyComponentName(const Access* access, FBComponent* owner) noexcept
      : mAccess(access), mOwner(owner) {}
  FBPropertyComponentName(const FBPropertyComponentName&) = delete;
  ~FBPropertyComponentName() = default;

  FBPropertyComponentName& operator=(const FBString& value) {
    Set(value);
    return *this;
  }
  FBPropertyComponentName& operator=(const FBPropertyComponentName& other) {
    if (this != &other) Set(other.Get());
    return *this;
  }

  FBString Get() const { return mAccess->get(*mOwner); }
  operator FBString() const { return Get(); }  // NOLINT(google-explicit-constructor)

  bool Set(const FBString& value) {
    if (mReadOnly.load(std::memory_order_relaxed) || mAccess->set == nullptr) return false;
    return mAccess->set(*mOwner, value);
  }

  bool IsReadOnly() const noexcept { return mReadOnly.load(std::memory_order_relaxed); }
  // Owner wiring, in the owner's constructor (see fbproperty.h).
  void SetReadOnly(bool readOnly) noexcept { mReadOnly.store(readOnly, std::memory_order_relaxed); }
  void SetAccess(const Access* access) noexcept { mAccess = access; }

 private:
  const Access* mAccess;
  FBComponent* mOwner;
  std::atomic<bool> mReadOnly{false};
};

class FBSDK_API FBComponent : public FBPlug {
  FBClassDeclare(FBComponent, FBPlug);

 public:
  // The HIObject argument exists for the real SDK's constructor shape; in this
  // host a component is its own handle, and the argument is ignored.
  explicit FBComponent(HIObject object = nullptr);
  // With an initial label name ("ns:name" or "name"), as models are made.
  FBComponent(const char* labelName, HIObject object);
  ~FBComponent() override;

  // The component allocator. Throws std::bad_alloc like the global operator
  // new when memory runs out (the only exception the host lets through).
  static void* operator new(std::size_t size);
  static void operator delete(void* memory) noexcept;

  // Second construction step; the base answers true. A false answer means the
  // object refused creation; its creator then deletes it.
  virtual bool FBCreate();
  // First destruction step; the base does nothing.
  virtual void FBDestroy();
  // Ends the component (see the file comment).
  virtual void FBDelete();

  // True when the status bit is set (kFBStatusNone: true when no bit is set).
  bool GetObjectStatus(FBObjectStatus status) const noexcept;
  // Host side: sets or clears a status bit. Plug-ins only read the status.
  void SetObjectStatus(FBObjectStatus status, bool on) noexcept;

  // This component's host handle (never null for a live component).
  HIObject GetHIObject() override;

  // Label-name parts (see the file comment).
  FBString GetNamespace() const;
  FBString GetName() const;
  FBString GetLabelName() const;
  void SetLabelName(const char* labelName);

  // True when the system allocated the object (factories set it right after
  // `new`); FBDelete then frees it. Set once by the creator, before sharing.
  bool mAllocated = false;

  FBPropertyComponentName Name;      // the name after the namespace
  FBPropertyComponentName LongName;  // the label name, "ns:name"

 private:
  static const FBPropertyComponentName::Access kNameAccess;
  static const FBPropertyComponentName::Access kLongNameAccess;

  fbsdk_detail::ValueLock mNameLock;
  std::atomic<int> mStatus{0};
  // The label as written, and where its first ':' is (npos: none). Kept
  // whole, so that reading the label, what lookups do most, is one copy;
  // ":RootNode" has an empty namespace yet reads back as written.
  std::string mLabel;
  std::size_t mColon = std::string::npos;
};
