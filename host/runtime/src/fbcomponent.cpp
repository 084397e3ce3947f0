#include "fbsdk/fbcomponent.h"

#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "fbhost/components.h"
#include "host_state.h"

namespace fbhost_internal {
ComponentTable& Components() {
  static ComponentTable* table = new ComponentTable;
  return *table;
}
}  // namespace fbhost_internal

using fbhost_internal::Components;

FBClassImplementation(FBComponent);

namespace {
using NameGuard = std::lock_guard<const fbsdk_detail::ValueLock>;
}  // namespace

// Every component wires its two names alike: plain functions, not a
// std::function apiece on each of the scene's thousands of components.
const FBPropertyString::Access FBComponent::kNameAccess{
    [](const void* owner) { return static_cast<const FBComponent*>(owner)->GetName(); },
    [](void* owner, const FBString& name) {
      auto* component = static_cast<FBComponent*>(owner);
      NameGuard lock(component->mNameLock);
      component->mName = name.str();
      return true;
    }};
const FBPropertyString::Access FBComponent::kLongNameAccess{
    [](const void* owner) { return static_cast<const FBComponent*>(owner)->GetLabelName(); },
    [](void* owner, const FBString& label) {
      static_cast<FBComponent*>(owner)->SetLabelName(label);
      return true;
    }};

FBComponent::FBComponent(HIObject /*object*/) {
  Name.SetAccess(&kNameAccess, this);
  LongName.SetAccess(&kLongNameAccess, this);
  auto& table = Components();
  {
    std::lock_guard<std::mutex> lock(table.lock);
    table.live.insert(this);
  }
  table.liveCount.fetch_add(1);
}

FBComponent::FBComponent(const char* labelName, HIObject object) : FBComponent(object) {
  SetLabelName(labelName);
}

FBComponent::~FBComponent() {
  auto& table = Components();
  {
    std::lock_guard<std::mutex> lock(table.lock);
    table.live.erase(this);
  }
  table.liveCount.fetch_sub(1);
}

void* FBComponent::operator new(std::size_t size) {
  void* memory = ::operator new(size);
  Components().outstandingAllocations.fetch_add(1);
  return memory;
}

void FBComponent::operator delete(void* memory) noexcept {
  if (memory == nullptr) return;
  Components().outstandingAllocations.fetch_sub(1);
  ::operator delete(memory);
}

bool FBComponent::FBCreate() { return true; }

void FBComponent::FBDestroy() {}

void FBComponent::FBDelete() {
  if (GetObjectStatus(kFBStatusDestroying)) return;  // already ended
  SetObjectStatus(kFBStatusDestroying, true);
  FBDestroy();
  if (mAllocated) delete this;
}

bool FBComponent::GetObjectStatus(FBObjectStatus status) const noexcept {
  const int bits = mStatus.load();
  if (status == kFBStatusNone) return bits == 0;
  return (bits & static_cast<int>(status)) != 0;
}

void FBComponent::SetObjectStatus(FBObjectStatus status, bool on) noexcept {
  if (on) {
    mStatus.fetch_or(static_cast<int>(status));
  } else {
    mStatus.fetch_and(~static_cast<int>(status));
  }
}

HIObject FBComponent::GetHIObject() { return static_cast<void*>(this); }

FBString FBComponent::GetNamespace() const {
  NameGuard lock(mNameLock);
  return FBString(mNamespace);
}

FBString FBComponent::GetName() const {
  NameGuard lock(mNameLock);
  return FBString(mName);
}

FBString FBComponent::GetLabelName() const {
  NameGuard lock(mNameLock);
  if (!mHasNamespace) return FBString(mName);
  // One allocation: binding a stage reads tens of thousands of labels, and
  // the concatenation's temporaries cost more than the rest of the call.
  std::string label;
  label.reserve(mNamespace.size() + 1 + mName.size());
  label.append(mNamespace).append(1, ':').append(mName);
  return FBString(std::move(label));
}

void FBComponent::SetLabelName(const char* labelName) {
  // The parts are assigned straight from the text: every component made
  // gets a label, and copies in between were most of the cost. The text is
  // never this component's own storage (the getters answer copies).
  const std::string_view label = labelName ? labelName : "";
  const auto colon = label.find(':');
  NameGuard lock(mNameLock);
  mHasNamespace = colon != std::string_view::npos;
  if (colon == std::string_view::npos) {
    mNamespace.clear();
    mName.assign(label);
  } else {
    mNamespace.assign(label.substr(0, colon));
    mName.assign(label.substr(colon + 1));
  }
}

namespace fbhost {
std::int64_t LiveComponentCount() { return Components().liveCount.load(); }
std::int64_t OutstandingComponentAllocations() {
  return Components().outstandingAllocations.load();
}
}  // namespace fbhost
