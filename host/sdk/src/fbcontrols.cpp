#include "fbsdk/fbcontrols.h"

FBClassImplementation(FBLabel);
FBClassImplementation(FBEdit);
FBClassImplementation(FBList);
FBClassImplementation(FBButton);
FBClassImplementation(FBTabPanel);

int FBPropertyStringList::Add(const char* text, kReference reference) {
  int index = 0;
  {
    std::lock_guard<std::mutex> lock(mLock);
    mItems.push_back(Item{text ? text : "", reference});
    index = static_cast<int>(mItems.size()) - 1;
  }
  if (mChanged) mChanged();
  return index;
}

int FBPropertyStringList::GetCount() const {
  std::lock_guard<std::mutex> lock(mLock);
  return static_cast<int>(mItems.size());
}

FBString FBPropertyStringList::GetAt(int index) const {
  std::lock_guard<std::mutex> lock(mLock);
  if (index < 0 || static_cast<std::size_t>(index) >= mItems.size()) return FBString();
  return FBString(mItems[static_cast<std::size_t>(index)].text);
}

kReference FBPropertyStringList::GetReferenceAt(int index) const {
  std::lock_guard<std::mutex> lock(mLock);
  if (index < 0 || static_cast<std::size_t>(index) >= mItems.size()) return 0;
  return mItems[static_cast<std::size_t>(index)].reference;
}

bool FBPropertyStringList::SetReferenceAt(int index, kReference reference) {
  std::lock_guard<std::mutex> lock(mLock);
  if (index < 0 || static_cast<std::size_t>(index) >= mItems.size()) return false;
  mItems[static_cast<std::size_t>(index)].reference = reference;
  return true;
}

int FBPropertyStringList::Find(const char* text) const {
  if (text == nullptr) return -1;
  std::lock_guard<std::mutex> lock(mLock);
  for (std::size_t i = 0; i < mItems.size(); ++i) {
    if (mItems[i].text == text) return static_cast<int>(i);
  }
  return -1;
}

bool FBPropertyStringList::RemoveAt(int index) {
  {
    std::lock_guard<std::mutex> lock(mLock);
    if (index < 0 || static_cast<std::size_t>(index) >= mItems.size()) return false;
    mItems.erase(mItems.begin() + index);
  }
  if (mChanged) mChanged();
  return true;
}

void FBPropertyStringList::Clear() {
  {
    std::lock_guard<std::mutex> lock(mLock);
    mItems.clear();
  }
  if (mChanged) mChanged();
}

namespace {

// Keeps a chosen index inside the items: refuses assignments outside them,
// chooses the first item when a list gets one, and lets go of an index the
// items no longer reach.
void WireChoice(FBPropertyInt& index, FBPropertyStringList& items) {
  index.Store(-1);
  index.SetSetter([&index, &items](const int& value) {
    if (value < -1 || value >= items.GetCount()) return false;
    index.Store(value);
    return true;
  });
  items.SetChangeHook([&index, &items] {
    const int count = items.GetCount();
    const int chosen = index.Stored();
    if (chosen >= count) {
      index.Store(count > 0 ? count - 1 : -1);
    } else if (chosen < 0 && count > 0) {
      index.Store(0);
    }
  });
}

}  // namespace

FBLabel::FBLabel() = default;
FBLabel::~FBLabel() = default;

FBEdit::FBEdit(HIObject object) : FBVisualComponent(object) {}
FBEdit::~FBEdit() = default;

FBList::FBList() { WireChoice(ItemIndex, Items); }
FBList::~FBList() = default;

void FBList::Selected(int index, bool selected) {
  if (index < 0 || index >= Items.GetCount()) return;
  if (selected) {
    ItemIndex.Store(index);
  } else if (ItemIndex.Stored() == index) {
    ItemIndex.Store(-1);
  }
}

bool FBList::IsSelected(int index) const { return index >= 0 && ItemIndex.Stored() == index; }

FBButton::FBButton() { Style.Store(kFBPushButton); }
FBButton::~FBButton() = default;

FBTabPanel::FBTabPanel() { WireChoice(ItemIndex, Items); }
FBTabPanel::~FBTabPanel() = default;
