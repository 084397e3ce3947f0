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

const FBPropertyComponentName::Access FBComponent::kNameAccess{
    [](const FBComponent& owner) { return owner.GetName(); },
    [](FBComponent& owner, const FBString& name) {
      NameGuard lock(owner.mNameLock);
      // The namespace and its ':' stay.
      if (owner.mColon == std::string::npos) {
        owner.mLabel = name.str();
      } else {
        owner.mLabel.replace(owner.mColon + 1, std::string::npos, name.str());
      }
      return true;
    }};
const FBPropertyComponentName::Access FBComponent::kLongNameAccess{
    [](const FBComponent& owner) { return owner.GetLabelName(); },
    [](FBComponent& owner, const FBString& label) {
      owner.SetLabelName(label);
      return true;
    }};

FBComponent::FBComponent(HIObject /*object*/)
    : Name(&kNameAccess, this), LongName(&kLongNameAccess, this) {
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
  if (mColon == std::string::npos) return FBString();
  return FBString(mLabel.substr(0, mColon));
}

FBString FBComponent::GetName() const {
  NameGuard lock(mNameLock);
  if (mColon == std::string::npos) return FBString(mLabel);
  return FBString(mLabel.substr(mColon + 1));
}

FBString FBComponent::GetLabelName() const {
  NameGuard lock(mNameLock);
  return FBString(mLabel);
}

void FBComponent::SetLabelName(const char* labelName) {
  // Assigned straight from the text: every component made gets a label.
  // The text is never this component's own storage (the getters answer
  // copies).
  const std::string_view label = labelName ? labelName : "";
  NameGuard lock(mNameLock);
  mLabel.assign(label);
  mColon = label.find(':');
}

namespace fbhost {
std::int64_t LiveComponentCount() { return Components().liveCount.load(); }
std::int64_t OutstandingComponentAllocations() {
  return Components().outstandingAllocations.load();
}
}  // namespace fbhost
