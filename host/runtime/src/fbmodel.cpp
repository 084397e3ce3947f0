#include "fbsdk/fbmodel.h"

#include <algorithm>
#include <functional>
#include <mutex>

#include "scene_state.h"

using fbhost_internal::ListAccess;
using fbhost_internal::Scene;
using fbhost_internal::SceneLock;

namespace {
using Guard = std::lock_guard<std::recursive_mutex>;

bool InScene(const FBModel* model) { return Scene().liveModels.count(model) != 0; }
}  // namespace

// ---- FBPropertyModel ----

// Every template and every device root has one: plain functions, not a
// std::function apiece.
const FBPropertyModel::Access FBPropertyModel::kAccess{
    nullptr, [](FBPropertyBase& property, FBModel* const& model) {
      return static_cast<FBPropertyModel&>(property).Refer(model);
    }};

FBPropertyModel::FBPropertyModel() { SetAccess(&kAccess); }

bool FBPropertyModel::Refer(FBModel* model) {
  Guard lock(SceneLock());
  // A pointer to a model that has left the scene would dangle: refuse it.
  if (model != nullptr && !InScene(model)) return false;
  FBModel* old = Stored();
  if (old == model) return true;
  auto& referrers = Scene().referrers;
  if (old != nullptr) {
    auto range = referrers.equal_range(old);
    for (auto it = range.first; it != range.second; ++it) {
      if (it->second == this) {
        referrers.erase(it);
        break;
      }
    }
  }
  if (model != nullptr) referrers.emplace(model, this);
  Store(model);
  return true;
}

FBPropertyModel::~FBPropertyModel() {
  Guard lock(SceneLock());
  FBModel* model = Stored();
  if (model == nullptr) return;
  auto& referrers = Scene().referrers;
  auto range = referrers.equal_range(model);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second == this) {
      referrers.erase(it);
      return;
    }
  }
}

namespace fbhost_internal {
void ClearReferencesTo(const FBModel* model) {
  Guard lock(SceneLock());
  auto& referrers = Scene().referrers;
  auto range = referrers.equal_range(model);
  for (auto it = range.first; it != range.second; ++it) it->second->Store(nullptr);
  referrers.erase(model);
}
}  // namespace fbhost_internal

// ---- FBPropertyListModel ----

FBPropertyListModel::FBPropertyListModel(FBModel* owner)
    : FBPropertyBasicList(owner, Kind::ModelChildren) {}

int FBPropertyListModel::Add(FBModel* model) { return AddComponent(model); }

FBModel* FBPropertyListModel::operator[](int index) const {
  return static_cast<FBModel*>(ComponentAt(index));
}

int FBPropertyListModel::Find(const FBModel* model) const { return FindComponent(model); }

bool FBPropertyListModel::Remove(const FBModel* model) { return RemoveComponent(model); }

// ---- models ----

FBClassImplementation(FBModel);
FBClassImplementation(FBModelRoot);
FBClassImplementation(FBModelNull);
FBClassImplementation(FBModelSkeleton);
FBClassImplementation(FBModelMarker);

void* FBModel::operator new(std::size_t size) {
  void* block = FBComponent::operator new(size);
  fbhost_internal::NoteComponentBlock(block, size);
  return block;
}

void FBModel::operator delete(void* memory) noexcept { FBComponent::operator delete(memory); }

FBModel::FBModel(const char* labelName, HIObject object)
    : FBComponent(labelName, object), Children(this) {
  if (fbhost_internal::ClaimComponentBlock(this)) mAllocated = true;
  const std::string ns = GetNamespace().str();
  Guard lock(SceneLock());
  auto& scene = Scene();
  scene.liveModels.insert(this);
  scene.models.push_back(this);
  if (!ns.empty()) scene.namespaces.insert(ns);
}

FBModel::~FBModel() { LeaveScene(); }

void FBModel::FBDestroy() {
  LeaveScene();
  FBComponent::FBDestroy();
}

void FBModel::LeaveScene() {
  Guard lock(SceneLock());
  auto& scene = Scene();
  if (scene.liveModels.erase(this) != 0) {
    auto& models = scene.models;
    models.erase(std::remove(models.begin(), models.end(), this), models.end());
  }
  ListAccess::DetachEverywhere(this);
  Children.RemoveAll();
  fbhost_internal::ClearReferencesTo(this);
}

FBModel* FBModel::GetParent() const { return ListAccess::ParentOf(this); }

FBModelRoot::FBModelRoot(const char* labelName, HIObject object) : FBModel(labelName, object) {}
FBModelNull::FBModelNull(const char* labelName, HIObject object) : FBModel(labelName, object) {}
FBModelSkeleton::FBModelSkeleton(const char* labelName, HIObject object)
    : FBModel(labelName, object) {}
FBModelMarker::FBModelMarker(const char* labelName, HIObject object)
    : FBModel(labelName, object), Color(FBColor(1.0, 1.0, 1.0)) {}

FBModel* FBFindModelByLabelName(const char* labelName) {
  if (labelName == nullptr) return nullptr;
  Guard lock(SceneLock());
  for (FBModel* model : Scene().models) {
    if (model->GetLabelName() == labelName) return model;
  }
  return nullptr;
}
