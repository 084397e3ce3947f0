// fbcontrols.h: the panel toolkit's controls: FBLabel, FBEdit, FBList,
// FBButton, FBTabPanel, and the item list FBPropertyStringList.
//
// Side of the boundary: SDK. Implemented in libfbsdk (sdk/src/fbcontrols.cpp).
//
// Each control is an FBVisualComponent (fblayout.h: Enabled, Visible) placed
// in a layout region. Its state is properties; its events are
// FBPropertyEvent (fbevent.h), with the control as sender.
//
// Who raises the events. Only the user's actions do (fbhost/panel.h: typing
// into an edit and committing, clicking a button, choosing an item); a
// program that assigns a Text, a State or an ItemIndex raises nothing, so a
// handler may write back into its own control without running again. The
// host acts on a control only while it is Enabled.
//
//   FBEdit    user commits a text:   Text := the text, then OnChange
//   FBButton  user clicks:           a check box (or a two-state button)
//                                    flips State between 0 and 1, a radio
//                                    button sets it to 1, a push button
//                                    leaves it; then OnClick
//   FBList    user chooses an item:  ItemIndex := its index, then OnChange
//   FBTabPanel user chooses a tab:   ItemIndex := its index, then OnChange
//
// Threads: UI thread for actions and events; properties may be read anywhere.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "fbsdk/fbevent.h"
#include "fbsdk/fblayout.h"
#include "fbsdk/fbproperty.h"
#include "fbsdk/fbsdk_api.h"
#include "fbsdk/fbstring.h"

// The number a list item carries besides its text.
using kReference = std::intptr_t;

// A property holding an enumeration value.
template <typename Enum>
using FBPropertyBaseEnum = FBPropertyBase<Enum>;

// The items of a list or a tab strip: texts, each with a reference number.
// Safe to read from any thread while the UI thread changes it.
class FBSDK_API FBPropertyStringList {
 public:
  FBPropertyStringList() = default;
  FBPropertyStringList(const FBPropertyStringList&) = delete;
  FBPropertyStringList& operator=(const FBPropertyStringList&) = delete;

  // Appends an item (null text: "") and answers its index.
  int Add(const char* text, kReference reference = 0);
  int GetCount() const;
  // The text at the index; "" outside 0 .. GetCount() - 1.
  FBString GetAt(int index) const;
  FBString operator[](int index) const { return GetAt(index); }
  // The reference number at the index; 0 outside the range.
  kReference GetReferenceAt(int index) const;
  // False (nothing changes) outside the range.
  bool SetReferenceAt(int index, kReference reference);
  // The index of the first item with exactly this text, or -1.
  int Find(const char* text) const;
  // False outside the range.
  bool RemoveAt(int index);
  void Clear();

  // Host side: called after every change of the items (the owning control
  // keeps its selection valid). Wired once by the owner.
  void SetChangeHook(std::function<void()> hook) { mChanged = std::move(hook); }

 private:
  struct Item {
    std::string text;
    kReference reference;
  };
  mutable std::mutex mLock;
  std::vector<Item> mItems;
  std::function<void()> mChanged;
};

class FBSDK_API FBLabel : public FBVisualComponent {
  FBClassDeclare(FBLabel, FBVisualComponent);

 public:
  FBLabel();
  ~FBLabel() override;
  FBPropertyString Caption;
};

class FBSDK_API FBEdit : public FBVisualComponent {
  FBClassDeclare(FBEdit, FBVisualComponent);

 public:
  explicit FBEdit(HIObject object = nullptr);
  ~FBEdit() override;
  FBPropertyString Text;
  // The user committed a text (it is already in Text).
  FBPropertyEvent OnChange;
};

// A drop-down list with one chosen item.
class FBSDK_API FBList : public FBVisualComponent {
  FBClassDeclare(FBList, FBVisualComponent);

 public:
  FBList();
  ~FBList() override;

  FBPropertyStringList Items;
  // The chosen item's index; -1 while the list is empty. A list that gets
  // its first item chooses it. Assigning an index outside the items is
  // refused (the assignment answers false, the choice stays).
  FBPropertyInt ItemIndex;
  // Chooses the item at the index (selected true) or, when it is the chosen
  // one, leaves no item chosen (selected false). Outside the items: nothing.
  void Selected(int index, bool selected);
  bool IsSelected(int index) const;
  // The user chose an item (ItemIndex already reads it).
  FBPropertyEvent OnChange;
};

enum FBButtonStyle {
  kFBPushButton = 0,
  kFBBitmapButton = 1,
  kFBRadioButton = 2,
  kFBCheckbox = 3,
  kFB2States = 4,
  kFBBitmap2States = 5,
};

class FBSDK_API FBButton : public FBVisualComponent {
  FBClassDeclare(FBButton, FBVisualComponent);

 public:
  FBButton();
  ~FBButton() override;
  FBPropertyString Caption;
  // A push button until set.
  FBPropertyBaseEnum<FBButtonStyle> Style;
  // 1 for ticked (pressed), 0 for clear; 0 until set.
  FBPropertyInt State;
  // The user clicked (a check box's State has already flipped).
  FBPropertyEvent OnClick;
};

// A strip of tabs. It may have no items, and then shows an empty strip.
class FBSDK_API FBTabPanel : public FBVisualComponent {
  FBClassDeclare(FBTabPanel, FBVisualComponent);

 public:
  FBTabPanel();
  ~FBTabPanel() override;
  FBPropertyStringList Items;
  // The chosen tab; -1 while there are none. Same rules as FBList::ItemIndex.
  FBPropertyInt ItemIndex;
  FBPropertyEvent OnChange;
};
