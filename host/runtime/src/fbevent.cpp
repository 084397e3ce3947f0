#include "fbsdk/fbevent.h"

#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "event_state.h"
#include "fbhost/idle.h"
#include "fbhost/messages.h"
#include "panel_state.h"

namespace fbsdk_detail {

struct EventCore {
  struct Entry {
    std::uint64_t id = 0;
    const void* owner = nullptr;
    bool tagged = false;  // a member handler, removable by (owner, tag)
    HandlerTag tag;
    std::shared_ptr<FBPropertyEvent::Callback> callback;
  };

  // Held for a whole raise, so that a Remove on another thread waits for the
  // raise to end; recursive, so that a handler may raise or edit this event.
  std::recursive_mutex dispatch;
  std::mutex lock;  // guards entries and nextId
  std::vector<Entry> entries;
  std::uint64_t nextId = 1;

  bool Contains(std::uint64_t id) {
    std::lock_guard<std::mutex> guard(lock);
    for (const auto& e : entries) {
      if (e.id == id) return true;
    }
    return false;
  }
};

}  // namespace fbsdk_detail

namespace {

bool SameTag(const fbsdk_detail::HandlerTag& a, const fbsdk_detail::HandlerTag& b) {
  return a.size == b.size && std::memcmp(a.bytes.data(), b.bytes.data(), a.size) == 0;
}

}  // namespace

FBPropertyEvent::FBPropertyEvent() : mCore(std::make_shared<fbsdk_detail::EventCore>()) {}

FBPropertyEvent::FBPropertyEvent(std::shared_ptr<fbsdk_detail::EventCore> shared)
    : mCore(shared ? std::move(shared) : std::make_shared<fbsdk_detail::EventCore>()) {}

FBPropertyEvent::~FBPropertyEvent() = default;

void FBPropertyEvent::AddTagged(const void* owner, const Tag& tag, Callback callback) {
  std::lock_guard<std::mutex> guard(mCore->lock);
  for (const auto& e : mCore->entries) {
    if (e.tagged && e.owner == owner && SameTag(e.tag, tag)) return;
  }
  fbsdk_detail::EventCore::Entry entry;
  entry.id = mCore->nextId++;
  entry.owner = owner;
  entry.tagged = true;
  entry.tag = tag;
  entry.callback = std::make_shared<Callback>(std::move(callback));
  mCore->entries.push_back(std::move(entry));
}

void FBPropertyEvent::RemoveTagged(const void* owner, const Tag& tag) {
  std::lock_guard<std::recursive_mutex> wait(mCore->dispatch);
  std::lock_guard<std::mutex> guard(mCore->lock);
  auto& entries = mCore->entries;
  for (auto it = entries.begin(); it != entries.end(); ++it) {
    if (it->tagged && it->owner == owner && SameTag(it->tag, tag)) {
      entries.erase(it);
      return;
    }
  }
}

void FBPropertyEvent::Add(const void* owner, Callback callback) {
  if (owner == nullptr || !callback) return;
  std::lock_guard<std::mutex> guard(mCore->lock);
  fbsdk_detail::EventCore::Entry entry;
  entry.id = mCore->nextId++;
  entry.owner = owner;
  entry.callback = std::make_shared<Callback>(std::move(callback));
  mCore->entries.push_back(std::move(entry));
}

void FBPropertyEvent::RemoveAll(const void* owner) {
  std::lock_guard<std::recursive_mutex> wait(mCore->dispatch);
  std::lock_guard<std::mutex> guard(mCore->lock);
  auto& entries = mCore->entries;
  for (auto it = entries.begin(); it != entries.end();) {
    it = it->owner == owner ? entries.erase(it) : it + 1;
  }
}

int FBPropertyEvent::GetCount() const {
  std::lock_guard<std::mutex> guard(mCore->lock);
  return static_cast<int>(mCore->entries.size());
}

void FBPropertyEvent::Fire(HISender sender, HKEvent event) {
  // Keep the list alive even if this event object is destroyed by a handler.
  const std::shared_ptr<fbsdk_detail::EventCore> core = mCore;
  std::lock_guard<std::recursive_mutex> raising(core->dispatch);
  std::vector<std::pair<std::uint64_t, std::shared_ptr<Callback>>> snapshot;
  {
    std::lock_guard<std::mutex> guard(core->lock);
    snapshot.reserve(core->entries.size());
    for (const auto& e : core->entries) snapshot.emplace_back(e.id, e.callback);
  }
  for (const auto& [id, callback] : snapshot) {
    // A handler may have removed a later one (or its own owner's others).
    if (!core->Contains(id)) continue;
    try {
      (*callback)(sender, event);
    } catch (const std::exception& error) {
      fbhost::ReportMessage(fbhost::MessageLevel::Error,
                            std::string("an event handler threw: ") + error.what());
    } catch (...) {
      fbhost::ReportMessage(fbhost::MessageLevel::Error,
                            "an event handler threw a non-standard exception");
    }
  }
}

namespace fbhost_internal {

const std::shared_ptr<fbsdk_detail::EventCore>& UIIdleCore() {
  // Never destroyed: FBSystem objects in plug-in statics may outlive main.
  static auto* core =
      new std::shared_ptr<fbsdk_detail::EventCore>(std::make_shared<fbsdk_detail::EventCore>());
  return *core;
}

}  // namespace fbhost_internal

namespace fbhost {

void RaiseUIIdle() {
  // A panel whose device is gone must not run its idle handler.
  fbhost_internal::DetachOrphanPanels();
  FBPropertyEvent idle(fbhost_internal::UIIdleCore());
  idle.Fire(nullptr, nullptr);
}

int UIIdleHandlerCount() {
  FBPropertyEvent idle(fbhost_internal::UIIdleCore());
  return idle.GetCount();
}

}  // namespace fbhost
