#include "fbsdk/fbanimation.h"

#include <algorithm>

#include "fbsdk/fbtake.h"
#include "scene_state.h"

using fbhost_internal::ListAccess;

namespace {
std::atomic<std::uint64_t> gNextSerial{1};
}

FBClassImplementation(FBAnimationNode);

void* FBAnimationNode::operator new(std::size_t size) {
  void* block = FBComponent::operator new(size);
  fbhost_internal::NoteComponentBlock(block, size);
  return block;
}

void FBAnimationNode::operator delete(void* memory) noexcept {
  FBComponent::operator delete(memory);
}

const FBPropertyComponentName::Access FBAnimationNode::kNodeNameAccess{
    [](const FBComponent& owner) { return static_cast<const FBAnimationNode&>(owner).mNodeName; },
    nullptr};

FBAnimationNode::FBAnimationNode(const char* name, const char* dataType, kULongLong userId)
    : FBComponent(name, nullptr),
      mSerial(gNextSerial.fetch_add(1)),
      mUserId(userId),
      mNodeName(name),
      mDataType(dataType) {
  if (fbhost_internal::ClaimComponentBlock(this)) mAllocated = true;
  // A node's name is a plain text, not a label: keep it whole.
  Name.SetAccess(&kNodeNameAccess);
  Name.SetReadOnly(true);
  LongName.SetAccess(&kNodeNameAccess);
  LongName.SetReadOnly(true);
}

FBAnimationNode::~FBAnimationNode() { ListAccess::DetachEverywhere(this); }

void FBAnimationNode::FBDestroy() {
  ListAccess::DetachEverywhere(this);
  FBComponent::FBDestroy();
}

void FBAnimationNode::SetRange(const double* minimum, const double* maximum) {
  std::lock_guard<const ValueLock> lock(mDataLock);
  mHasMinimum = minimum != nullptr;
  mHasMaximum = maximum != nullptr;
  for (int i = 0; i < 3; ++i) {
    mMinimum[i] = minimum ? minimum[i] : 0.0;
    mMaximum[i] = maximum ? maximum[i] : 0.0;
  }
}

bool FBAnimationNode::WriteData(const double* data, FBEvaluateInfo* /*info*/) {
  if (data == nullptr) return false;
  std::lock_guard<const ValueLock> lock(mDataLock);
  for (int i = 0; i < 3; ++i) {
    double v = data[i];
    if (mHasMinimum) v = std::max(v, mMinimum[i]);
    if (mHasMaximum) v = std::min(v, mMaximum[i]);
    mValue[i] = v;
  }
  mWritten = true;
  return true;
}

bool FBAnimationNode::ReadData(double* data, FBEvaluateInfo* /*info*/) const {
  if (data == nullptr) return false;
  std::lock_guard<const ValueLock> lock(mDataLock);
  std::copy(mValue, mValue + 3, data);
  return true;
}

bool FBAnimationNode::IsWritten() const {
  std::lock_guard<const ValueLock> lock(mDataLock);
  return mWritten;
}

bool FBAnimationNode::KeyAdd(FBTime time, const double* data, FBInterpolation interpolation,
                             FBTangentMode tangentMode) {
  if (data == nullptr) return false;
  FBTake* take = mOwningTake != nullptr ? mOwningTake : fbhost_internal::Scene().currentTake.load();
  if (take == nullptr) return false;
  return take->AddKey(this, time, data, interpolation, tangentMode);
}

// ---- FBPropertyListAnimationNode ----

FBPropertyListAnimationNode::FBPropertyListAnimationNode(FBComponent* owner)
    : FBPropertyBasicList(owner, Kind::AnimationNodes) {}

int FBPropertyListAnimationNode::Add(FBAnimationNode* node) { return AddComponent(node); }

FBAnimationNode* FBPropertyListAnimationNode::operator[](int index) const {
  return static_cast<FBAnimationNode*>(ComponentAt(index));
}

int FBPropertyListAnimationNode::Find(const FBAnimationNode* node) const {
  return FindComponent(node);
}

bool FBPropertyListAnimationNode::Remove(const FBAnimationNode* node) {
  return RemoveComponent(node);
}
