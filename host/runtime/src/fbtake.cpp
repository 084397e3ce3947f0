#include "fbsdk/fbtake.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "fbsdk/fbmodel.h"
#include "scene_state.h"

FBClassImplementation(FBTake);

// ---- FBTakeKeyArena ----

namespace {
constexpr std::size_t kChunkBytes = std::size_t{2} << 20;
constexpr std::size_t kPageBytes = 4096;

char* NewChunk() {
  return static_cast<char*>(::operator new (kChunkBytes, std::align_val_t{kChunkBytes}));
}
void DeleteChunk(char* chunk) { ::operator delete (chunk, std::align_val_t{kChunkBytes}); }

// Brings every page of a chunk into memory now, on a huge page where the
// system has them.
void MapChunk(char* chunk) {
#if defined(__linux__) && defined(MADV_HUGEPAGE) && defined(MADV_POPULATE_WRITE)
  madvise(chunk, kChunkBytes, MADV_HUGEPAGE);
  if (madvise(chunk, kChunkBytes, MADV_POPULATE_WRITE) == 0) return;
#endif
  // Older kernels and other systems: a write to each page maps it.
  for (std::size_t at = 0; at < kChunkBytes; at += kPageBytes) {
    static_cast<volatile char*>(chunk)[at] = 0;
  }
}
}  // namespace

// Chunks of 2 MiB, carved into the blocks of a recording's key lists. A
// recording touching a new page of each of thousands of lists every few
// samples would fault once per page on the input thread, some ten
// microseconds each on a virtual machine, and reach more pages than the
// processor keeps translations for. So every chunk comes mapped whole: made
// on the spot while a recording is prepared (UI thread, before keying),
// and while keying taken from a spare that ChunkPreparer maps on a thread
// of its own and that is asked for again as soon as it is taken. Mapping
// on the input thread instead stalled a sample by milliseconds (the kernel
// may compact memory to find a huge page). Only when the keys outrun the
// preparer does a chunk fault page by page as before.
class FBTakeKeyArena {
 public:
  FBTakeKeyArena() = default;
  FBTakeKeyArena(const FBTakeKeyArena&) = delete;
  FBTakeKeyArena& operator=(const FBTakeKeyArena&) = delete;
  ~FBTakeKeyArena();

  // Room for bytes (a multiple of 32), or null for a block too large to
  // share a chunk (the caller takes it from the heap). mapNow: the caller
  // may wait for a chunk to be mapped (no sample is being keyed).
  void* Allocate(std::size_t bytes, bool mapNow);

  // Frees the spare chunk, waiting for one being made. A later chunk asks
  // for a spare again.
  void ReleaseSpare();

  // The preparer's side: hands a mapped chunk over; false when a spare is
  // still there (the preparer then frees it).
  bool OfferSpare(char* chunk) {
    char* none = nullptr;
    return mSpare.compare_exchange_strong(none, chunk, std::memory_order_release);
  }

 private:
  std::vector<char*> mChunks;
  char* mNext = nullptr;
  char* mEnd = nullptr;
  std::atomic<char*> mSpare{nullptr};
};

namespace {
// One thread for every take, started at the first request and kept for the
// life of the program (a recording may come at any time; idle, it only
// waits). Never destroyed, so that a take freed during the program's exit
// still finds it.
class ChunkPreparer {
 public:
  static ChunkPreparer& Instance() {
    static ChunkPreparer* preparer = new ChunkPreparer;
    return *preparer;
  }

  // Asks for a spare chunk for the arena. Input thread, once per chunk
  // used: a lock rarely contended and a wake-up.
  void Ask(FBTakeKeyArena* arena) {
    {
      std::lock_guard<std::mutex> lock(mMutex);
      if (arena == mPreparing || std::find(mAsked.begin(), mAsked.end(), arena) != mAsked.end()) {
        return;
      }
      if (!mStarted) {
        try {
          std::thread(&ChunkPreparer::Run, this).detach();
          mStarted = true;
        } catch (const std::system_error&) {
          return;  // no thread to be had: chunks fault as keys reach them
        }
      }
      mAsked.push_back(arena);
    }
    mWake.notify_one();
  }

  // Once this returns the preparer never reaches the arena again.
  void Forget(FBTakeKeyArena* arena) {
    std::unique_lock<std::mutex> lock(mMutex);
    mAsked.erase(std::remove(mAsked.begin(), mAsked.end(), arena), mAsked.end());
    mDone.wait(lock, [&] { return mPreparing != arena; });
  }

 private:
  ChunkPreparer() = default;

  void Run() {
    std::unique_lock<std::mutex> lock(mMutex);
    for (;;) {
      mWake.wait(lock, [&] { return !mAsked.empty(); });
      mPreparing = mAsked.front();
      mAsked.erase(mAsked.begin());
      lock.unlock();
      char* chunk = nullptr;
      try {
        chunk = NewChunk();
        MapChunk(chunk);
      } catch (const std::bad_alloc&) {
        // The keys then take a chunk of their own when they need one.
      }
      lock.lock();
      // The arena stays while it is being prepared for (Forget waits).
      if (chunk != nullptr && !mPreparing->OfferSpare(chunk)) DeleteChunk(chunk);
      mPreparing = nullptr;
      mDone.notify_all();
    }
  }

  std::mutex mMutex;
  std::condition_variable mWake;
  std::condition_variable mDone;
  std::vector<FBTakeKeyArena*> mAsked;
  FBTakeKeyArena* mPreparing = nullptr;
  bool mStarted = false;
};
}  // namespace

FBTakeKeyArena::~FBTakeKeyArena() {
  if (!mChunks.empty()) ReleaseSpare();
  for (char* chunk : mChunks) DeleteChunk(chunk);
}

void FBTakeKeyArena::ReleaseSpare() {
  ChunkPreparer::Instance().Forget(this);
  if (char* spare = mSpare.exchange(nullptr, std::memory_order_acquire)) DeleteChunk(spare);
}

void* FBTakeKeyArena::Allocate(std::size_t bytes, bool mapNow) {
  if (bytes > kChunkBytes / 8) return nullptr;
  if (static_cast<std::size_t>(mEnd - mNext) < bytes) {
    if (mChunks.size() == mChunks.capacity())
      mChunks.reserve(std::max<std::size_t>(8, 2 * mChunks.size()));
    char* chunk = mSpare.exchange(nullptr, std::memory_order_acquire);
    if (chunk == nullptr) {
      chunk = NewChunk();
      if (mapNow) MapChunk(chunk);
    }
    mChunks.push_back(chunk);
    mNext = chunk;
    mEnd = chunk + kChunkBytes;
    ChunkPreparer::Instance().Ask(this);
  }
  void* room = mNext;
  mNext += bytes;
  return room;
}

// ---- FBTakeKeyList ----

namespace {
// From the heap (no arena), the first block holds a second and more at any
// capture rate, and each next one as many keys as the list already has, up
// to 128 KiB. From the arena every block is one page of keys: a chunk's
// pages are there as soon as the chunk is, so room far ahead of the keys
// would hold memory for nothing, and lists that all grow at once fill a
// chunk's blocks alike.
constexpr std::size_t kFirstBlockKeys = 256;
constexpr std::size_t kArenaBlockKeys = 128;
constexpr std::size_t kMaxBlockKeys = 4096;

// A hint to start loading a line; never faults, whatever the address.
inline void FetchLine(const void* at, bool forWriting) {
#if defined(__GNUC__)
  if (forWriting) {
    __builtin_prefetch(at, 1);
  } else {
    __builtin_prefetch(at, 0);
  }
#else
  (void)at;
  (void)forWriting;
#endif
}
}  // namespace

void FBTakeKeyList::AddBlock(std::size_t capacity, BlockSource source) {
  // Room for the new block first, so that nothing is lost when that
  // allocation fails.
  if (mBlocks.size() == mBlocks.capacity())
    mBlocks.reserve(std::max<std::size_t>(4, 2 * mBlocks.size()));
  if (!mBlocks.empty()) {
    mBlocks.back().used = static_cast<std::size_t>(mNext - mBlocks.back().keys);
  }
  Block block;
  void* room =
      source != BlockSource::kHeap && mArena != nullptr
          ? mArena->Allocate(capacity * sizeof(Stored), source == BlockSource::kArenaMapped)
          : nullptr;
  if (room != nullptr) {
    block.keys = new (room) Stored[capacity];
  } else {
    // Left uninitialised: a page is touched only when keys reach it.
    block.heapKeys.reset(new Stored[capacity]);
    block.keys = block.heapKeys.get();
  }
  mBlocks.push_back(std::move(block));
  mNext = mBlocks.back().keys;
  mEnd = mNext + capacity;
}

void FBTakeKeyList::Reserve(std::size_t keys) {
  // The first key's run of modes too: RecordNode promises a first key
  // without an allocation on the input thread.
  if (mModes.capacity() == 0) mModes.reserve(1);
  if (static_cast<std::size_t>(mEnd - mNext) < keys) {
    AddBlock(mArena != nullptr ? keys
                               : std::max({keys, kFirstBlockKeys, std::min(mSize, kMaxBlockKeys)}),
             BlockSource::kArenaMapped);
  }
}

void FBTakeKeyList::Append(kLongLong ticks, const double* value, FBInterpolation interpolation,
                           FBTangentMode tangentMode) {
  if (mNext == mEnd) {
    AddBlock(
        mArena != nullptr ? kArenaBlockKeys : std::clamp(mSize, kFirstBlockKeys, kMaxBlockKeys),
        BlockSource::kArena);
  }
  if (mModes.empty() || interpolation != mInterpolation || tangentMode != mTangentMode) {
    mModes.push_back(ModeRun{mSize, interpolation, tangentMode});
    mInterpolation = interpolation;
    mTangentMode = tangentMode;
  }
  mNext->ticks = ticks;
  std::copy(value, value + 3, mNext->value);
  ++mNext;
  ++mSize;
  mLastTicks = ticks;
}

void FBTakeKeyList::AddOther(FBTime time, const double* value, FBInterpolation interpolation,
                             FBTangentMode tangentMode) {
  if (mSize == 0 || time.Get() > mLastTicks) {
    Append(time.Get(), value, interpolation, tangentMode);
    return;
  }
  FBTakeKey key;
  key.time = time;
  std::copy(value, value + 3, key.value);
  key.interpolation = interpolation;
  key.tangentMode = tangentMode;
  std::vector<FBTakeKey> keys = Keys();
  const auto at = std::lower_bound(keys.begin(), keys.end(), key.time,
                                   [](const FBTakeKey& k, FBTime t) { return k.time < t; });
  if (at != keys.end() && at->time == key.time) {
    *at = key;
  } else {
    keys.insert(at, key);
  }
  Assign(keys);
}

std::vector<FBTakeKey> FBTakeKeyList::Keys() const {
  std::vector<FBTakeKey> keys;
  keys.reserve(mSize);
  std::size_t run = 0;
  for (const Block& block : mBlocks) {
    const std::size_t used =
        &block == &mBlocks.back() ? static_cast<std::size_t>(mNext - block.keys) : block.used;
    for (std::size_t i = 0; i < used; ++i) {
      if (run + 1 < mModes.size() && mModes[run + 1].first == keys.size()) ++run;
      FBTakeKey key;
      key.time = FBTime(block.keys[i].ticks);
      std::copy(block.keys[i].value, block.keys[i].value + 3, key.value);
      key.interpolation = mModes[run].interpolation;
      key.tangentMode = mModes[run].tangentMode;
      keys.push_back(key);
    }
  }
  return keys;
}

void FBTakeKeyList::Assign(const std::vector<FBTakeKey>& keys) {
  mBlocks.clear();
  mModes.clear();
  mNext = mEnd = nullptr;
  mSize = 0;
  if (!keys.empty()) AddBlock(std::max(keys.size(), kFirstBlockKeys), BlockSource::kHeap);
  for (const FBTakeKey& key : keys) {
    Append(key.time.Get(), key.value, key.interpolation, key.tangentMode);
  }
}

// ---- FBTake ----

FBTake::FBTake(const char* name)
    : FBComponent(name, nullptr),
      LocalTimeSpan(FBTimeSpan(FBTime::Zero, FBTime(10 * FBTime::kTicksPerSecond))),
      mKeyArena(std::make_unique<FBTakeKeyArena>()) {}

FBTake::~FBTake() {
  std::map<std::string, FBAnimationNode*> nodes;
  {
    std::lock_guard<Lock> lock(mLock);
    nodes.swap(mRecordNodes);
  }
  for (auto& entry : nodes) delete entry.second;
}

int FBTake::GetLayerCount() const {
  std::lock_guard<Lock> lock(mLock);
  return mLayerCount;
}

int FBTake::CreateNewLayer() {
  std::lock_guard<Lock> lock(mLock);
  return mLayerCount++;
}

int FBTake::GetCurrentLayer() const {
  std::lock_guard<Lock> lock(mLock);
  return mCurrentLayer;
}

void FBTake::SetCurrentLayer(int layer) {
  std::lock_guard<Lock> lock(mLock);
  ++mCurrentLayerSets;
  if (layer >= 0 && layer < mLayerCount) mCurrentLayer = layer;
}

int FBTake::CurrentLayerSetCount() const {
  std::lock_guard<Lock> lock(mLock);
  return mCurrentLayerSets;
}

std::vector<FBTakeKey> FBTake::GetKeys(const FBAnimationNode* node, int layer) const {
  if (node == nullptr) return {};
  std::lock_guard<Lock> lock(mLock);
  const auto curve = mCurves.find(node->GetSerial());
  if (curve == mCurves.end()) return {};
  const auto keys = curve->second.layers.find(layer);
  return keys == curve->second.layers.end() ? std::vector<FBTakeKey>() : keys->second.Keys();
}

std::vector<FBTakeKey> FBTake::GetKeys(std::uint64_t nodeSerial, int layer) const {
  std::lock_guard<Lock> lock(mLock);
  const auto curve = mCurves.find(nodeSerial);
  if (curve == mCurves.end()) return {};
  const auto keys = curve->second.layers.find(layer);
  return keys == curve->second.layers.end() ? std::vector<FBTakeKey>() : keys->second.Keys();
}

std::vector<FBTakeModel> FBTake::GetModels() const {
  std::lock_guard<Lock> lock(mLock);
  return mModels;
}

std::uint64_t FBTake::GetRevision() const {
  std::lock_guard<Lock> lock(mLock);
  return mRevision;
}

std::vector<FBTakeCurve> FBTake::GetCurves() const {
  std::lock_guard<Lock> lock(mLock);
  std::vector<FBTakeCurve> curves;
  for (const auto& [serial, curve] : mCurves) {
    for (const auto& [layer, keys] : curve.layers) {
      // Room made for a recording that took no sample is no curve yet.
      if (keys.Size() == 0) continue;
      FBTakeCurve info;
      info.nodeSerial = serial;
      info.nodeName = curve.nodeName;
      info.dataType = curve.dataType;
      info.layer = layer;
      info.keyCount = static_cast<int>(keys.Size());
      curves.push_back(std::move(info));
    }
  }
  return curves;
}

bool FBTake::AddKey(const FBAnimationNode* node, FBTime time, const double* data,
                    FBInterpolation interpolation, FBTangentMode tangentMode) {
  if (node == nullptr || data == nullptr) return false;
  auto insert = [&](Curve& curve) {
    ++mRevision;
    LayerKeysLocked(curve, mCurrentLayer).Add(time, data, interpolation, tangentMode);
  };
  if (node->GetOwningTake() == this) {
    // The usual case while recording: a node of this take, which knows
    // where its keys go.
    std::lock_guard<Lock> lock(mLock);
    ++mRevision;
    FBTakeKeyList& keys = OwnedNodeKeysLocked(const_cast<FBAnimationNode*>(node));
    KeyedNode* keyed = FollowKeyOrderLocked(node, &keys);
    keys.Add(time, data, interpolation, tangentMode);
    if (keyed != nullptr) keyed->room = keys.mNext;
    return true;
  }
  {
    // A node of a device keyed by itself: a key costs no copy of the
    // node's name once it has its curve.
    std::lock_guard<Lock> lock(mLock);
    const auto found = mCurves.find(node->GetSerial());
    if (found != mCurves.end() && !found->second.nodeName.empty()) {
      insert(found->second);
      return true;
    }
  }
  // A node's first key: its name is read outside the take's lock, as the
  // name has a lock of its own.
  const std::string name = node->LongName.Get().str();
  std::lock_guard<Lock> lock(mLock);
  Curve& curve = mCurves[node->GetSerial()];
  if (curve.nodeName.empty()) {
    curve.nodeName = name;
    curve.dataType = node->GetDataType().str();
  }
  insert(curve);
  return true;
}

FBTake::KeyedNode* FBTake::FollowKeyOrderLocked(const FBAnimationNode* node, FBTakeKeyList* keys) {
  std::size_t at = mKeyOrderNext;
  if (at < mKeyOrder.size() && mKeyOrder[at].node == node) {
    // In order, as nearly every key of a recording.
  } else if (at + 1 < mKeyOrder.size() && mKeyOrder[at + 1].node == node) {
    ++at;  // one node passed over (its record had no new value)
  } else if (!mKeyOrder.empty() && mKeyOrder.front().node == node) {
    at = 0;  // the next sample
  } else {
    // A first sample, or another order from here on. Past the room made
    // for it the order is not learned: keying never allocates.
    mKeyOrder.resize(at);
    if (at == mKeyOrder.capacity()) return nullptr;
    mKeyOrder.push_back(KeyedNode{node, keys, nullptr, nullptr});
  }
  KeyedNode& keyed = mKeyOrder[at];
  keyed.keys = keys;  // the current layer's, which may have changed
  keyed.sourceLine = node->mRecordSourceLine;
  mKeyOrderNext = at + 1;
  // Fetched by address alone, never read through, so that a line still
  // on its way stalls nothing here: the nodes (the device's and the
  // take's) farther ahead, as the caller reads them before the key's
  // list and room.
  constexpr std::size_t kNodesAhead = 8;
  constexpr std::size_t kKeysAhead = 4;
  if (at + kNodesAhead < mKeyOrder.size()) {
    const KeyedNode& ahead = mKeyOrder[at + kNodesAhead];
    FetchLine(&ahead.node->mRecordTarget, false);
    if (ahead.sourceLine != nullptr) FetchLine(ahead.sourceLine, false);
  }
  if (at + kKeysAhead < mKeyOrder.size()) {
    const KeyedNode& ahead = mKeyOrder[at + kKeysAhead];
    FetchLine(&ahead.keys->mNext, true);
    FetchLine(&ahead.keys->mTangentMode, true);
    if (ahead.room != nullptr) FetchLine(ahead.room, true);
  }
  return &keyed;
}

FBAnimationNode* FBTake::RecordNode(const std::string& modelLabel, const std::string& dataType,
                                    const FBAnimationNode* source) {
  const std::string name = modelLabel + " " + dataType;
  std::lock_guard<Lock> lock(mLock);
  FBAnimationNode* node = OwnedNodeLocked(name, dataType);
  if (source != nullptr) node->mRecordSourceLine = &source->mRecordTarget;
  // Room to learn the order of every node a sample may key.
  if (mKeyOrder.capacity() < mRecordNodes.size()) {
    mKeyOrder.reserve(std::max(mRecordNodes.size(), 2 * mKeyOrder.capacity()));
  }
  // Every node of a recording takes a key each sample: with blocks of one
  // size they would all fill, and allocate, in the same sample. Sizes that
  // differ from node to node spread that over many samples.
  OwnedNodeKeysLocked(node).Reserve(kArenaBlockKeys + node->GetSerial() % kArenaBlockKeys);
  return node;
}

void FBTake::ReleaseSpareKeyMemory() {
  // Without the take's lock: the spare is handed over atomically, and a key
  // added meanwhile at worst asks for a spare again.
  mKeyArena->ReleaseSpare();
}

FBTakeKeyList& FBTake::OwnedNodeKeysLocked(FBAnimationNode* node) {
  if (node->mTakeKeys != nullptr && node->mTakeKeysLayer == mCurrentLayer) {
    return *node->mTakeKeys;
  }
  Curve& curve = mCurves[node->GetSerial()];
  if (curve.nodeName.empty()) {
    // The take made the node: its name is the one given, read without
    // the name property's lock.
    curve.nodeName = node->mNodeName.str();
    curve.dataType = node->GetDataType().str();
  }
  node->mTakeKeys = &LayerKeysLocked(curve, mCurrentLayer);
  node->mTakeKeysLayer = mCurrentLayer;
  return *node->mTakeKeys;
}

FBTakeKeyList& FBTake::LayerKeysLocked(Curve& curve, int layer) {
  FBTakeKeyList& keys = curve.layers[layer];
  keys.mArena = mKeyArena.get();
  return keys;
}

FBAnimationNode* FBTake::OwnedNodeLocked(const std::string& name, const std::string& dataType) {
  auto& node = mRecordNodes[name];
  if (node == nullptr) {
    node = new FBAnimationNode(name.c_str(), dataType.c_str(), 0);
    node->mAllocated = true;
    node->SetOwningTake(this);
  }
  return node;
}

void FBTake::NoteModel(FBModel* model) {
  // The models from this one up to the first one already known (or the
  // top), so that parents come first and each model is looked at once
  // however deep the hierarchy.
  std::vector<FBModel*> chain;
  std::unordered_set<FBModel*> inChain;
  int parent = -1;
  for (FBModel* at = model; at != nullptr && inChain.insert(at).second; at = at->GetParent()) {
    const std::string label = at->GetLabelName().str();
    {
      std::lock_guard<Lock> lock(mLock);
      const auto known = mModelIndex.find(label);
      if (known != mModelIndex.end()) {
        parent = known->second;
        break;
      }
    }
    chain.push_back(at);
  }
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    FBModel* at = *it;
    FBTakeModel noted;
    noted.label = at->GetLabelName().str();
    noted.kind = fbhost_internal::ModelKind(at);
    FBModel* up = at->GetParent();
    noted.childIndex = up != nullptr ? up->Children.Find(at) : -1;
    const FBVector3<double> t = at->Translation.Get();
    const FBVector3<double> r = at->Rotation.Get();
    for (std::size_t i = 0; i < 3; ++i) {
      noted.translation[i] = t[i];
      noted.rotation[i] = r[i];
    }
    noted.parent = parent;
    std::lock_guard<Lock> lock(mLock);
    parent = static_cast<int>(mModels.size());
    if (!mModelIndex.emplace(noted.label, parent).second) return;  // two models of one label
    mModels.push_back(std::move(noted));
  }
}

bool FBTake::RestoreModel(const FBTakeModel& model) {
  std::lock_guard<Lock> lock(mLock);
  if (model.parent < -1 || model.parent >= static_cast<int>(mModels.size()) ||
      mModelIndex.count(model.label) != 0) {
    return false;
  }
  mModelIndex.emplace(model.label, static_cast<int>(mModels.size()));
  mModels.push_back(model);
  return true;
}

bool FBTake::RestoreCurve(const std::string& nodeName, const std::string& dataType, int layer,
                          std::vector<FBTakeKey> keys) {
  if (layer < 0) return false;
  for (std::size_t i = 1; i < keys.size(); ++i) {
    if (!(keys[i - 1].time < keys[i].time)) return false;
  }
  std::lock_guard<Lock> lock(mLock);
  FBAnimationNode* node = OwnedNodeLocked(nodeName, dataType);
  Curve& curve = mCurves[node->GetSerial()];
  curve.nodeName = nodeName;
  curve.dataType = dataType;
  LayerKeysLocked(curve, layer).Assign(keys);
  mLayerCount = std::max(mLayerCount, layer + 1);
  ++mRevision;
  return true;
}
