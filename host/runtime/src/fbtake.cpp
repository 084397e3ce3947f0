#include "fbsdk/fbtake.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "fbsdk/fbmodel.h"
#include "scene_state.h"

FBClassImplementation(FBTake);

// ---- FBTakeKeyList ----

namespace {
// The first block holds a second and more at any capture rate; each next
// one as many keys as the list already has, up to 128 KiB.
constexpr std::size_t kFirstBlockKeys = 256;
constexpr std::size_t kMaxBlockKeys = 4096;
}  // namespace

void FBTakeKeyList::AddBlock(std::size_t capacity) {
  if (!mBlocks.empty()) {
    mBlocks.back().used = static_cast<std::size_t>(mNext - mBlocks.back().keys.get());
  }
  Block block;
  // Left uninitialised: a page is touched only when keys reach it.
  block.keys.reset(new Stored[capacity]);
  mBlocks.push_back(std::move(block));
  mNext = mBlocks.back().keys.get();
  mEnd = mNext + capacity;
}

void FBTakeKeyList::Reserve(std::size_t keys) {
  if (static_cast<std::size_t>(mEnd - mNext) < keys) {
    AddBlock(std::max({keys, kFirstBlockKeys, std::min(mSize, kMaxBlockKeys)}));
  }
}

void FBTakeKeyList::Append(kLongLong ticks, const double* value, FBInterpolation interpolation,
                           FBTangentMode tangentMode) {
  if (mNext == mEnd) AddBlock(std::clamp(mSize, kFirstBlockKeys, kMaxBlockKeys));
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
        &block == &mBlocks.back() ? static_cast<std::size_t>(mNext - block.keys.get()) : block.used;
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
  if (!keys.empty()) AddBlock(std::max(keys.size(), kFirstBlockKeys));
  for (const FBTakeKey& key : keys) {
    Append(key.time.Get(), key.value, key.interpolation, key.tangentMode);
  }
}

// ---- FBTake ----

FBTake::FBTake(const char* name)
    : FBComponent(name, nullptr),
      LocalTimeSpan(FBTimeSpan(FBTime::Zero, FBTime(10 * FBTime::kTicksPerSecond))) {}

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
    curve.layers[mCurrentLayer].Add(time, data, interpolation, tangentMode);
  };
  if (node->GetOwningTake() == this) {
    // The usual case while recording: a node of this take, which knows
    // where its keys go.
    std::lock_guard<Lock> lock(mLock);
    ++mRevision;
    OwnedNodeKeysLocked(const_cast<FBAnimationNode*>(node))
        .Add(time, data, interpolation, tangentMode);
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

FBAnimationNode* FBTake::RecordNode(const std::string& modelLabel, const std::string& dataType) {
  const std::string name = modelLabel + " " + dataType;
  std::lock_guard<Lock> lock(mLock);
  FBAnimationNode* node = OwnedNodeLocked(name, dataType);
  // Every node of a recording takes a key each sample: with blocks of one
  // size they would all fill, and allocate, in the same sample. Sizes that
  // differ from node to node spread that over many samples.
  OwnedNodeKeysLocked(node).Reserve(kFirstBlockKeys + node->GetSerial() % kFirstBlockKeys);
  return node;
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
  node->mTakeKeys = &curve.layers[mCurrentLayer];
  node->mTakeKeysLayer = mCurrentLayer;
  return *node->mTakeKeys;
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
  curve.layers[layer].Assign(keys);
  mLayerCount = std::max(mLayerCount, layer + 1);
  ++mRevision;
  return true;
}
