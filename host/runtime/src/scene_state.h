// scene_state.h: the scene's shared state (models, namespaces, takes, the
// links between lists and their items, model references) and the devices of
// the scene, for the host's own sources.
//
// Private to libfbsdk. Every piece lives in a never-destroyed object, so
// that plug-in statics destroyed at process exit may still reach the host.
//
// Lock order: the device registry's lock is never held while the scene lock
// is taken or the reverse; property and take locks may be taken while the
// scene lock is held, never the reverse. No host lock is held while a
// device is called.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "fbhost/devices.h"
#include "fbsdk/fbdevice.h"
#include "fbsdk/fblist.h"
#include "fbsdk/fbmodel.h"
#include "fbsdk/fbmodeltemplate.h"
#include "fbsdk/fbscene.h"
#include "fbsdk/fbtake.h"
#include "node_pool.h"

namespace fbhost_internal {

// Guards the scene's structure: every list, the model and take lists, the
// namespaces, and the link tables below. Recursive, because deleting a
// model unlinks lists that again take it.
std::recursive_mutex& SceneLock();

struct SceneState {
  FBScene* scene = nullptr;      // made once, never destroyed
  std::vector<FBModel*> models;  // creation order
  // The nodes of the three tables below, one or more per model, template
  // and list item: taken from a pool under the scene lock instead of one
  // heap block each (binding a stage makes tens of thousands).
  NodePool nodes;
  // The same models, for the question whether one is still in the scene:
  // every model reference asks it when set, and a search of the list made
  // binding a large stage quadratic.
  PooledSet<const FBModel*> liveModels{PoolAllocator<const FBModel*>(nodes)};
  std::set<std::string> namespaces;  // made explicitly (by a model's birth)
  std::vector<FBTake*> takes;
  std::atomic<FBTake*> currentTake{nullptr};
  // What the revisions of deleted takes and the take list's own changes add
  // to fbhost::TakesRevision, so that it never goes back.
  std::uint64_t takesRevisionBase = 0;
  // Which lists hold a component (an item may sit in several lists).
  PooledMultimap<const FBComponent*, FBPropertyBasicList*> containers{
      PoolAllocator<std::pair<const FBComponent* const, FBPropertyBasicList*>>(nodes)};
  // Which model references point at a model.
  PooledMultimap<const FBModel*, FBPropertyModel*> referrers{
      PoolAllocator<std::pair<const FBModel* const, FBPropertyModel*>>(nodes)};
};
// The scene state, made with the scene and its first take on first use.
SceneState& Scene();

// The component allocator of the host's own classes notes the block it gave
// out on this thread; the constructor claims it to learn that the object
// lives on the heap (and so that FBDelete frees it).
void NoteComponentBlock(void* block, std::size_t size) noexcept;
bool ClaimComponentBlock(const void* object) noexcept;

struct ListAccess {
  // Takes the item out of every list that holds it.
  static void DetachEverywhere(const FBComponent* item);
  // The lists that hold the item.
  static std::vector<FBPropertyBasicList*> Containers(const FBComponent* item);
  // The items of a list (a copy).
  static std::vector<FBComponent*> Items(const FBPropertyBasicList& list);
  // The model whose child list holds the model, or null.
  static FBModel* ParentOf(const FBModel* model);
  // The same for a caller that holds the scene lock: adding a model asks
  // it for every ancestor, and taking the lock again each time was most of
  // what the question cost.
  static FBModel* ParentLocked(const FBModel* model);
  // The template whose animation-node list holds the node, or null.
  static FBModelTemplate* TemplateOf(const FBAnimationNode* node);
  static bool IsModelChildren(const FBPropertyBasicList& list);
  // True when `target` is the template `from` or lies above it (a
  // template's parents own the template child lists that hold it).
  static bool TemplateAbove(const FBComponent* target, const FBComponent* from);
};

// Makes every reference to the model read null.
void ClearReferencesTo(const FBModel* model);

// The model's class as scene files and takes name it: "Marker",
// "Skeleton", "Null", "Root" or "Model".
const char* ModelKind(FBModel* model);

// Puts these takes in place of the scene's (a scene load); current becomes
// the current take, or the first when null. The takes replaced are deleted.
// Nothing happens for an empty list.
void ReplaceTakes(std::vector<FBTake*> takes, FBTake* current);

// What the host keeps for each device object.
struct DeviceHostState {
  std::atomic<std::int64_t> acks{0};
  std::atomic<std::int64_t> inputCalls{0};
  std::atomic<std::int64_t> evaluationCalls{0};
  std::atomic<std::int64_t> evaluationTrue{0};
  std::atomic<std::int64_t> binds{0};
  std::atomic<std::int64_t> unbinds{0};
  std::atomic<std::int64_t> recordingInits{0};
  std::atomic<std::int64_t> recordingDones{0};
  std::mutex liveLock;  // makes Live's compare-and-store one step
  std::mutex lock;      // guards the two lists
  std::vector<int> baseOperations;
  std::vector<int> transportModes;
  // True while the Online setter runs the start or stop operation.
  std::atomic<bool> switchingOnline{false};
};

// The devices of the scene, and the callbacks in flight on each.
struct DeviceRegistry {
  struct Entry {
    FBDevice* device = nullptr;
    int inFlight = 0;
    bool removing = false;
  };
  std::mutex lock;
  std::condition_variable idle;
  std::vector<Entry> entries;
};
DeviceRegistry& Devices();

// Pins the online devices of the scene (or one device) against removal;
// every pinned device must be unpinned.
std::vector<FBDevice*> PinOnlineDevices();
bool PinOnlineDevice(FBDevice* device);
void Unpin(FBDevice* device);
// Marks the device as leaving and waits for its callbacks in flight; false
// when it is not in the scene.
bool BeginRemoval(FBDevice* device);
void EndRemoval(FBDevice* device);

// The transport's two flags, read by every FBPlayerControl.
struct TransportFlags {
  std::atomic<bool> recording{false};
  std::atomic<bool> playing{false};
};
TransportFlags& Transport();

// Transport hooks for device removal and scene reset.
void ForgetRecordedDevice(FBDevice* device);
void StopTransportForReset();

// Reference-time table reset.
void ResetReferenceTimes();

}  // namespace fbhost_internal
