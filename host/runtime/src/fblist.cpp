#include "fbsdk/fblist.h"

#include <algorithm>
#include <set>

#include "fbsdk/fbmodel.h"
#include "fbsdk/fbmodeltemplate.h"
#include "scene_state.h"

using fbhost_internal::ListAccess;
using fbhost_internal::Scene;
using fbhost_internal::SceneLock;

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

void EraseLink(const FBComponent* item, const FBPropertyBasicList* list) {
  auto& links = Scene().containers;
  auto range = links.equal_range(item);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second == list) {
      links.erase(it);
      return;
    }
  }
}

bool Linked(const FBComponent* item, const FBPropertyBasicList* list) {
  auto range = Scene().containers.equal_range(item);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second == list) return true;
  }
  return false;
}

}  // namespace

FBPropertyBasicList::FBPropertyBasicList(FBComponent* owner, Kind kind)
    : mOwner(owner), mKind(kind) {}

FBPropertyBasicList::~FBPropertyBasicList() {
  Guard lock(SceneLock());
  for (FBComponent* item : mItems) EraseLink(item, this);
  mItems.clear();
}

int FBPropertyBasicList::GetCount() const {
  Guard lock(SceneLock());
  return static_cast<int>(mItems.size());
}

bool FBPropertyBasicList::RemoveAt(int index) {
  Guard lock(SceneLock());
  if (index < 0 || static_cast<std::size_t>(index) >= mItems.size()) return false;
  FBComponent* item = mItems[static_cast<std::size_t>(index)];
  mItems.erase(mItems.begin() + index);
  EraseLink(item, this);
  return true;
}

void FBPropertyBasicList::RemoveAll() {
  Guard lock(SceneLock());
  while (!mItems.empty()) RemoveAt(static_cast<int>(mItems.size()) - 1);
}

int FBPropertyBasicList::AddComponent(FBComponent* item) {
  if (item == nullptr) return -1;
  Guard lock(SceneLock());
  // The item's links tell whether this list holds it; searching the list
  // itself made filling a long one (a stage's markers) quadratic.
  if (Linked(item, this)) return FindComponent(item);
  switch (mKind) {
    case Kind::ModelChildren: {
      auto* model = static_cast<FBModel*>(item);
      // A model may not become its own ancestor.
      for (const FBModel* m = static_cast<FBModel*>(mOwner); m != nullptr;
           m = ListAccess::ParentLocked(m)) {
        if (m == model) return -1;
      }
      // One parent only: leave the former one (a new model has none).
      if (Scene().containers.count(model) == 0) break;
      for (FBPropertyBasicList* list : ListAccess::Containers(model)) {
        if (list->mKind == Kind::ModelChildren) list->RemoveComponent(model);
      }
      break;
    }
    case Kind::TemplateChildren:
      // A template may not become its own ancestor. Walking up from this
      // list's owner meets only its few ancestors, where walking down from
      // the item met its whole subtree, on every link of a large skeleton.
      if (ListAccess::TemplateAbove(item, mOwner)) return -1;
      break;
    case Kind::AnimationNodes:
    case Kind::Templates:
      break;
  }
  // Most lists hold one to three items (a template's nodes, a bone's
  // children), and the smallest heap block has room for three: growing
  // one by one made a block per item.
  if (mItems.capacity() == 0) mItems.reserve(3);
  mItems.push_back(item);
  Scene().containers.emplace(item, this);
  return static_cast<int>(mItems.size()) - 1;
}

FBComponent* FBPropertyBasicList::ComponentAt(int index) const {
  Guard lock(SceneLock());
  if (index < 0 || static_cast<std::size_t>(index) >= mItems.size()) return nullptr;
  return mItems[static_cast<std::size_t>(index)];
}

int FBPropertyBasicList::FindComponent(const FBComponent* item) const {
  if (item == nullptr) return -1;
  Guard lock(SceneLock());
  const auto it = std::find(mItems.begin(), mItems.end(), item);
  return it == mItems.end() ? -1 : static_cast<int>(it - mItems.begin());
}

bool FBPropertyBasicList::RemoveComponent(const FBComponent* item) {
  Guard lock(SceneLock());
  return RemoveAt(FindComponent(item));
}

namespace fbhost_internal {

void ListAccess::DetachEverywhere(const FBComponent* item) {
  Guard lock(SceneLock());
  auto& links = Scene().containers;
  auto range = links.equal_range(item);
  for (auto it = range.first; it != range.second; ++it) {
    auto& items = it->second->mItems;
    items.erase(std::remove(items.begin(), items.end(), item), items.end());
  }
  links.erase(item);
}

std::vector<FBPropertyBasicList*> ListAccess::Containers(const FBComponent* item) {
  Guard lock(SceneLock());
  std::vector<FBPropertyBasicList*> lists;
  auto range = Scene().containers.equal_range(item);
  for (auto it = range.first; it != range.second; ++it) lists.push_back(it->second);
  return lists;
}

std::vector<FBComponent*> ListAccess::Items(const FBPropertyBasicList& list) {
  Guard lock(SceneLock());
  return list.mItems;
}

bool ListAccess::TemplateAbove(const FBComponent* target, const FBComponent* from) {
  Guard lock(SceneLock());
  // A template in two lists has two parents: the others wait in `forks`.
  // From the first fork on no template is walked from twice; those met
  // before it lie below it and cannot be met again on the way up.
  std::vector<const FBComponent*> forks;
  std::set<const FBComponent*> seen;
  bool forked = false;
  const FBComponent* at = from;
  while (at != nullptr) {
    if (at == target) return true;
    const FBComponent* next = nullptr;
    if (!forked || seen.insert(at).second) {
      auto range = Scene().containers.equal_range(at);
      for (auto it = range.first; it != range.second; ++it) {
        const FBPropertyBasicList* list = it->second;
        if (list->mKind != FBPropertyBasicList::Kind::TemplateChildren) continue;
        if (next == nullptr) {
          next = list->mOwner;
          continue;
        }
        if (!forked) seen.insert(at);
        forked = true;
        forks.push_back(list->mOwner);
      }
    }
    if (next == nullptr && !forks.empty()) {
      next = forks.back();
      forks.pop_back();
    }
    at = next;
  }
  return false;
}

bool ListAccess::IsModelChildren(const FBPropertyBasicList& list) {
  return list.mKind == FBPropertyBasicList::Kind::ModelChildren;
}

FBModel* ListAccess::ParentOf(const FBModel* model) {
  Guard lock(SceneLock());
  return ParentLocked(model);
}

FBModel* ListAccess::ParentLocked(const FBModel* model) {
  auto range = Scene().containers.equal_range(model);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second->mKind == FBPropertyBasicList::Kind::ModelChildren) {
      return static_cast<FBModel*>(it->second->mOwner);
    }
  }
  return nullptr;
}

FBModelTemplate* ListAccess::TemplateOf(const FBAnimationNode* node) {
  Guard lock(SceneLock());
  auto range = Scene().containers.equal_range(node);
  for (auto it = range.first; it != range.second; ++it) {
    FBComponent* owner = it->second->mOwner;
    if (it->second->mKind == FBPropertyBasicList::Kind::AnimationNodes && owner != nullptr &&
        owner->Is(FBModelTemplate::TypeInfo)) {
      return static_cast<FBModelTemplate*>(owner);
    }
  }
  return nullptr;
}

}  // namespace fbhost_internal
