// fbevent.h: FBPropertyEvent, an event a host object raises (a button's
// click, an edit's change, the interface idle tick, a device's state change),
// with the handlers that listen to it.
//
// Side of the boundary: SDK. Implemented in libfbsdk (runtime/src/fbevent.cpp).
//
// A handler is a pair (owner, callback). The owner is the object that added
// it (usually `this`); it is the key for removal, so an object that goes away
// removes what it added with one call:
//
//   mButton.OnClick.Add(this, &MyLayout::OnPauseClick);      // member handler
//   mSystem.OnUIIdle.Remove(this, &MyLayout::IdleRefresh);   // that one pair
//   mDevice->OnStateChange.RemoveAll(this);                  // all of this owner's
//
// A member handler has the signature `void (HISender sender, HKEvent event)`:
// sender is the handle of the object that raised the event, event is
// event-specific data (null for every event this host raises today).
//
// Adding the same (owner, member callback) pair twice keeps one entry: events
// call each handler once per raise. Handlers run in the order they were added.
//
// Threads. Add, Remove and Fire may be called from any thread. Fire runs the
// handlers on the raising thread, without the handler list's lock held, so a
// handler may add or remove handlers (even itself) on any event. A handler
// removed while the event is being raised is not called afterwards; Remove
// called from another thread waits until a raise in progress has finished, so
// once Remove returns the handler neither runs nor will run, and its owner
// may be destroyed. For the same reason a handler must not wait for another
// thread that is itself raising this event.
//
// An exception thrown by a handler is caught by Fire and reported on the
// host's message channel; the other handlers still run.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>

#include "fbsdk/fbsdk_api.h"

// The object that raised an event (its host handle).
using HISender = HIObject;
// Event-specific data; null when the event carries none.
using HKEvent = void*;

namespace fbsdk_detail {
struct EventCore;
// A member-function pointer's bytes: the identity of a member handler.
struct HandlerTag {
  std::array<unsigned char, 32> bytes{};
  std::size_t size = 0;
};
}  // namespace fbsdk_detail

class FBSDK_API FBPropertyEvent {
 public:
  using Callback = std::function<void(HISender sender, HKEvent event)>;

  // An event with its own handler list.
  FBPropertyEvent();
  // A view of a list shared by several objects (every FBSystem shows the one
  // interface idle event of the host). Host side.
  explicit FBPropertyEvent(std::shared_ptr<fbsdk_detail::EventCore> shared);
  FBPropertyEvent(const FBPropertyEvent&) = delete;
  FBPropertyEvent& operator=(const FBPropertyEvent&) = delete;
  ~FBPropertyEvent();

  // Adds a member handler of `owner`. A null owner adds nothing.
  template <class Owner>
  void Add(Owner* owner, void (Owner::*callback)(HISender, HKEvent)) {
    if (owner == nullptr || callback == nullptr) return;
    AddTagged(owner, TagOf(callback),
              [owner, callback](HISender s, HKEvent e) { (owner->*callback)(s, e); });
  }
  // Removes that (owner, member handler) pair, if present.
  template <class Owner>
  void Remove(Owner* owner, void (Owner::*callback)(HISender, HKEvent)) {
    RemoveTagged(owner, TagOf(callback));
  }

  // Adds any callable under an owner key; such handlers are removed with
  // RemoveAll(owner). A null owner or an empty callback adds nothing.
  void Add(const void* owner, Callback callback);
  // Removes every handler the owner added.
  void RemoveAll(const void* owner);

  // The number of handlers added and not removed.
  int GetCount() const;

  // Host side: runs the handlers, in order, on this thread.
  void Fire(HISender sender, HKEvent event = nullptr);

 private:
  using Tag = fbsdk_detail::HandlerTag;
  template <class Member>
  static Tag TagOf(Member member) {
    static_assert(sizeof(Member) <= sizeof(Tag::bytes), "member pointer larger than expected");
    Tag tag;
    std::memcpy(tag.bytes.data(), &member, sizeof(Member));
    tag.size = sizeof(Member);
    return tag;
  }
  void AddTagged(const void* owner, const Tag& tag, Callback callback);
  void RemoveTagged(const void* owner, const Tag& tag);

  std::shared_ptr<fbsdk_detail::EventCore> mCore;
};
