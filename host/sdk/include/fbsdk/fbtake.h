// fbtake.h: FBTake, one take of the scene: its time span, its animation
// layers, and the keyed curves that recording writes.
//
// Side of the boundary: SDK. Implemented in libfbsdk (runtime/src/fbtake.cpp).
//
// The scene owns its takes (fbhost/scene.h makes them and picks the current
// one; FBSystem::CurrentTake answers it). A take lives until the scene is
// reset, so a take pointer read on any thread stays valid while host threads
// run.
//
// Layers. A take starts with one layer, the base layer 0, as its current
// layer. Keys added with FBAnimationNode::KeyAdd go to the current layer.
//
// Curves. Each (node, layer) pair that received a key has a curve: its keys
// ordered by time, at most one per exact time (a later key at the same time
// replaces the earlier). Curves are kept by node serial (GetSerial), so a
// curve outlives the node that was keyed.
//
// Models. A take also remembers the models it recorded (label, class,
// parent, place among the parent's children, local pose when recording
// began), so that it can be read and exported after those models, or the
// device that made them, are gone.
//
// Threads. Every operation is safe from any thread: the input thread keys
// while the UI thread reads.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fbsdk/fbanimation.h"
#include "fbsdk/fbcomponent.h"
#include "fbsdk/fbproperty.h"
#include "fbsdk/fbsdk_api.h"
#include "fbsdk/fbtime.h"

class FBModel;

using FBPropertyTimeSpan = FBPropertyBase<FBTimeSpan>;

// One key as the take holds it.
struct FBTakeKey {
  FBTime time;
  double value[3] = {0.0, 0.0, 0.0};
  FBInterpolation interpolation = kFBInterpolationCubic;
  FBTangentMode tangentMode = kFBTangentModeAuto;
};

// One model the take recorded, or an ancestor of one.
struct FBTakeModel {
  std::string label;
  // The model's class as the scene file names it: "Model", "Root", "Null",
  // "Skeleton" or "Marker".
  std::string kind;
  int parent = -1;                          // index in GetModels() of an earlier model, or -1
  int childIndex = -1;                      // its place in the parent's child list, or -1
  double translation[3] = {0.0, 0.0, 0.0};  // local, when first recorded
  double rotation[3] = {0.0, 0.0, 0.0};
};

// Where a take's recorded keys live (host side, fbtake.cpp): large
// chunks, each mapped in one go, carved into the key lists' blocks.
class FBTakeKeyArena;

// One curve's keys in one layer, in time order, as the take holds them
// (host side; FBTakeKey is what callers see). A key costs 32 bytes, its time
// and values, in blocks that never move: recording appends each key where
// it stays, with no search and no copy of the keys already held, and
// takes a new block only when one is full. A recording's blocks, a page of
// keys each, come from its take's arena, so that keys going into thousands
// of lists at once fault no page each and spread over few pages of the
// address translation; a rewritten list (editing, a scene load) holds its
// keys in heap blocks of its own, each larger than the last up to a cap,
// freed when rewritten again.
// Interpolation and tangent mode are kept once for each run of keys that
// share them (a recording keys with one pair). Not thread-safe: its take's
// lock guards it.
class FBTakeKeyList {
 public:
  std::size_t Size() const noexcept { return mSize; }
  // Adds a key in time order; a key already at that exact time is
  // replaced. A key after the last one is an append; any other rewrites the
  // list (editing, not recording, puts keys there).
  void Add(FBTime time, const double* value, FBInterpolation interpolation,
           FBTangentMode tangentMode) {
    const kLongLong ticks = time.Get();
    if (mSize != 0 && ticks > mLastTicks && mNext != mEnd && interpolation == mInterpolation &&
        tangentMode == mTangentMode) {
      mNext->ticks = ticks;
      mNext->value[0] = value[0];
      mNext->value[1] = value[1];
      mNext->value[2] = value[2];
      ++mNext;
      ++mSize;
      mLastTicks = ticks;
      return;
    }
    AddOther(time, value, interpolation, tangentMode);
  }
  // Room for this many more keys (at least) before the next allocation.
  void Reserve(std::size_t keys);
  std::vector<FBTakeKey> Keys() const;
  // Replaces every key; times must be strictly increasing.
  void Assign(const std::vector<FBTakeKey>& keys);

 private:
  struct Stored {
    kLongLong ticks;
    double value[3];
  };
  static_assert(sizeof(Stored) == 32, "a key is 32 bytes");
  struct Block {
    Stored* keys = nullptr;
    std::unique_ptr<Stored[]> heapKeys;  // keys, when not in the take's arena
    // The keys it holds, once a later block follows it (a reservation may
    // leave room unused behind it); the last block's are up to mNext.
    std::size_t used = 0;
  };
  struct ModeRun {
    std::size_t first = 0;  // the index of the run's first key
    FBInterpolation interpolation = kFBInterpolationCubic;
    FBTangentMode tangentMode = kFBTangentModeAuto;
  };
  // Every case but an append into room with the modes of the last key.
  void AddOther(FBTime time, const double* value, FBInterpolation interpolation,
                FBTangentMode tangentMode);
  void Append(kLongLong ticks, const double* value, FBInterpolation interpolation,
              FBTangentMode tangentMode);
  // Where a new block comes from: the heap (a rewritten list), or the
  // take's arena when the list has one, where a recording being prepared
  // (before keying) may wait for a chunk to be mapped and keying may not.
  enum class BlockSource { kHeap, kArena, kArenaMapped };
  void AddBlock(std::size_t capacity, BlockSource source);

  friend class FBTake;  // fetches the append state ahead of a key

  // First, together: the state an append reads and writes.
  Stored* mNext = nullptr;  // the room left in the last block
  Stored* mEnd = nullptr;
  std::size_t mSize = 0;
  kLongLong mLastTicks = 0;
  // The last key's modes.
  FBInterpolation mInterpolation = kFBInterpolationCubic;
  FBTangentMode mTangentMode = kFBTangentModeAuto;
  std::vector<Block> mBlocks;  // every one full but the last
  std::vector<ModeRun> mModes;
  FBTakeKeyArena* mArena = nullptr;  // its take's
};

// One curve of the take, for inspection.
struct FBTakeCurve {
  std::uint64_t nodeSerial = 0;
  std::string nodeName;
  std::string dataType;
  int layer = 0;
  int keyCount = 0;
};

class FBSDK_API FBTake : public FBComponent {
  FBClassDeclare(FBTake, FBComponent);

 public:
  // Host side: fbhost::CreateTake makes takes.
  explicit FBTake(const char* name);
  ~FBTake() override;

  // The take's time span. The host sets [0 s, 10 s) when it makes a take and
  // never changes it by itself; a device may set it when recording ends.
  FBPropertyTimeSpan LocalTimeSpan;

  int GetLayerCount() const;
  // Adds a layer on top and answers its index.
  int CreateNewLayer();
  int GetCurrentLayer() const;
  // Makes the layer current. An index outside [0, GetLayerCount()) is
  // ignored: the current layer stays.
  void SetCurrentLayer(int layer);

  // The keys of the node's curve in the layer, in time order; empty when
  // there is none.
  std::vector<FBTakeKey> GetKeys(const FBAnimationNode* node, int layer) const;
  // The same by the node's serial (FBTakeCurve::nodeSerial), also for a
  // curve whose node is gone.
  std::vector<FBTakeKey> GetKeys(std::uint64_t nodeSerial, int layer) const;
  // Every curve, ordered by node serial and then layer.
  std::vector<FBTakeCurve> GetCurves() const;
  // The recorded models, each after its parent.
  std::vector<FBTakeModel> GetModels() const;
  // A number that grows with every change of the take's curves (a key
  // added or replaced, a curve restored); equal answers mean no change.
  std::uint64_t GetRevision() const;

  // Host side. Adds one key to the node's curve in the current layer; false
  // when data is null.
  bool AddKey(const FBAnimationNode* node, FBTime time, const double* data,
              FBInterpolation interpolation, FBTangentMode tangentMode);
  // The node of this take that receives the recorded keys of one model's
  // property (made at the first request, then the same node), with its
  // curve in the current layer and room there for the first keys, so that
  // the recording that asks for it appends keys without allocating.
  // source: the device's node that records into it, when known, so that
  // the take can fetch it ahead of its keys.
  FBAnimationNode* RecordNode(const std::string& modelLabel, const std::string& dataType,
                              const FBAnimationNode* source = nullptr);
  // Host side, when the transport stops: frees the key memory kept ready
  // for a recording's next keys (2 MiB, mapped), so that a take kept after
  // its recording holds only its keys.
  void ReleaseSpareKeyMemory();
  // How many times SetCurrentLayer has been called (statistics).
  int CurrentLayerSetCount() const;
  // Remembers a recorded model and, before it, its ancestors (see Models
  // above); a label already known is kept as first noted. UI thread.
  void NoteModel(FBModel* model);
  // Host side, for a scene load: adds a model as GetModels answers it;
  // false (nothing added) when its parent is not an earlier model or its
  // label is already known.
  bool RestoreModel(const FBTakeModel& model);
  // Host side, for a scene load: gives the take a curve of its own, on a
  // node it owns named nodeName (a curve named "<model> <data type>" is
  // then the one RecordNode answers), holding exactly these keys in the
  // layer. Keys must be in strictly increasing time order; false (nothing
  // changed) otherwise, or for a negative layer. Layers up to it are made.
  bool RestoreCurve(const std::string& nodeName, const std::string& dataType, int layer,
                    std::vector<FBTakeKey> keys);

 private:
  struct Curve {
    std::string nodeName;
    std::string dataType;
    std::map<int, FBTakeKeyList> layers;
  };
  // Taken for every key of a recording, thousands a sample, and held briefly
  // there: the node value's spin lock costs a fraction of a mutex's calls
  // into the thread library. A longer holder (a copy of a whole curve) only
  // makes a waiter yield its core.
  using Lock = const FBAnimationNode::ValueLock;
  FBAnimationNode::ValueLock mLock;
  int mLayerCount = 1;
  int mCurrentLayer = 0;
  int mCurrentLayerSets = 0;
  std::map<std::uint64_t, Curve> mCurves;
  std::map<std::string, FBAnimationNode*> mRecordNodes;  // owned
  std::uint64_t mRevision = 0;
  std::vector<FBTakeModel> mModels;
  std::map<std::string, int> mModelIndex;  // label -> index in mModels
  // The order the last sample keyed this take's nodes in, learned as keys
  // come. A recording keys the same nodes in the same order every sample,
  // each key's memory cold after a sample's pause: the entries a few places
  // ahead name what the next keys will touch, and those lines are fetched
  // while this key is stored. A key out of that order relearns it from
  // there, so a changed order only wastes fetches. mLock held.
  struct KeyedNode {
    const FBAnimationNode* node;  // of this take: lives as long as it
    FBTakeKeyList* keys;          // a curve's layer is never removed
    const void* sourceLine;       // fetched only, never read
    const void* room;             // where its next key went last time; fetched only
  };
  std::unique_ptr<FBTakeKeyArena> mKeyArena;
  // A curve's keys in a layer, made with the take's arena when new.
  FBTakeKeyList& LayerKeysLocked(Curve& curve, int layer);
  std::vector<KeyedNode> mKeyOrder;  // RecordNode makes its room: keying never allocates
  std::size_t mKeyOrderNext = 0;     // where the next key is expected
  // Answers the node's entry (null when the order has no room for it).
  KeyedNode* FollowKeyOrderLocked(const FBAnimationNode* node, FBTakeKeyList* keys);
  // The node of a name, made at the first request; mLock held.
  FBAnimationNode* OwnedNodeLocked(const std::string& name, const std::string& dataType);
  // The keys of a node of this take in the current layer (its curve made
  // when it has none); mLock held.
  FBTakeKeyList& OwnedNodeKeysLocked(FBAnimationNode* node);
};
