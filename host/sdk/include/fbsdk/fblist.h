// fblist.h: FBPropertyBasicList, the host's ordered lists of components (a
// model's children, a template's children, a template's animation nodes, a
// device's model templates).
//
// Side of the boundary: SDK. Implemented in libfbsdk (runtime/src/fblist.cpp). The
// typed lists (FBPropertyListModel, FBPropertyListModelTemplate,
// FBPropertyListAnimationNode) are declared with their item classes.
//
// A list refers to its items; it does not own them. The host keeps the
// relation both ways: an item that is destroyed (FBDelete, or the end of the
// object that owns it) leaves every list that holds it, and a list that is
// destroyed lets go of its items. So a list never holds a dangling pointer.
//
// Rules every list follows:
//   - An item is held at most once. Adding an item that the list already
//     holds changes nothing and answers its index.
//   - Adding null answers -1 and changes nothing; so does an add that the
//     list's kind refuses (see the typed lists: a model cannot become its own
//     ancestor, a template cannot hold itself or an ancestor).
//   - Indexes run from 0 to GetCount() - 1 in the order of adding; removing
//     an item moves the later ones down by one.
//   - An index outside that range is not an error of the host: a read
//     answers null and RemoveAt answers false.
//
// Threads. Every operation takes the host's scene lock for its own duration,
// so lists may be read from any thread while the UI thread changes them, and
// the host's evaluation thread walks them safely. A pointer read from a list
// stays valid only while its item is not deleted: items are deleted on the UI
// thread (the thread of device operations and bind notifications), so a
// pointer read on that thread is good until that thread deletes it.
#pragma once

#include <vector>

#include "fbsdk/fbsdk_api.h"

class FBComponent;

namespace fbhost_internal {
struct ListAccess;
}

class FBSDK_API FBPropertyBasicList {
 public:
  FBPropertyBasicList(const FBPropertyBasicList&) = delete;
  FBPropertyBasicList& operator=(const FBPropertyBasicList&) = delete;
  virtual ~FBPropertyBasicList();

  int GetCount() const;
  // Removes the item at the index (the item itself lives on). False when the
  // index is out of range.
  bool RemoveAt(int index);
  // Removes every item, from the last to the first (the items live on).
  void RemoveAll();

  // The component that owns the list (a model, a template, a device).
  FBComponent* GetOwner() const { return mOwner; }

 protected:
  // What the list holds; decides which adds are refused.
  enum class Kind {
    ModelChildren,     // models: an item has at most one such list (its parent)
    TemplateChildren,  // model templates, without cycles
    AnimationNodes,    // animation nodes
    Templates,         // model templates at the top of a device's hierarchy
  };
  FBPropertyBasicList(FBComponent* owner, Kind kind);

  int AddComponent(FBComponent* item);
  FBComponent* ComponentAt(int index) const;
  int FindComponent(const FBComponent* item) const;
  bool RemoveComponent(const FBComponent* item);

 private:
  friend struct fbhost_internal::ListAccess;
  FBComponent* const mOwner;
  const Kind mKind;
  std::vector<FBComponent*> mItems;  // guarded by the scene lock
};
