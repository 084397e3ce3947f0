#include "fbsdk/fbmodeltemplate.h"

#include <mutex>

#include "scene_state.h"

using fbhost_internal::ListAccess;
using fbhost_internal::SceneLock;

namespace {
using Guard = std::lock_guard<std::recursive_mutex>;
}

FBPropertyListModelTemplate::FBPropertyListModelTemplate(FBModelTemplate* owner)
    : FBPropertyBasicList(owner, Kind::TemplateChildren) {}

FBPropertyListModelTemplate::FBPropertyListModelTemplate(FBComponent* deviceOwner,
                                                         bool /*topLevel*/)
    : FBPropertyBasicList(deviceOwner, Kind::Templates) {}

int FBPropertyListModelTemplate::Add(FBModelTemplate* modelTemplate) {
  return AddComponent(modelTemplate);
}

FBModelTemplate* FBPropertyListModelTemplate::operator[](int index) const {
  return static_cast<FBModelTemplate*>(ComponentAt(index));
}

int FBPropertyListModelTemplate::Find(const FBModelTemplate* modelTemplate) const {
  return FindComponent(modelTemplate);
}

bool FBPropertyListModelTemplate::Remove(const FBModelTemplate* modelTemplate) {
  return RemoveComponent(modelTemplate);
}

FBClassImplementation(FBModelTemplate);

void* FBModelTemplate::operator new(std::size_t size) {
  void* block = FBComponent::operator new(size);
  fbhost_internal::NoteComponentBlock(block, size);
  return block;
}

void FBModelTemplate::operator delete(void* memory) noexcept {
  FBComponent::operator delete(memory);
}

FBModelTemplate::FBModelTemplate(const char* prefix, const char* name, FBModelTemplateStyle style)
    : FBComponent(name, nullptr),
      Prefix(FBString(prefix)),
      Style(style),
      Children(this),
      AnimationNodes(this) {
  if (fbhost_internal::ClaimComponentBlock(this)) mAllocated = true;
}

FBModelTemplate::~FBModelTemplate() { Unlink(); }

void FBModelTemplate::FBDestroy() {
  Unlink();
  FBComponent::FBDestroy();
}

void FBModelTemplate::Unlink() {
  Guard lock(SceneLock());
  ListAccess::DetachEverywhere(this);
  Children.RemoveAll();
  AnimationNodes.RemoveAll();
  Model = nullptr;
}
