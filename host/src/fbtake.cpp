#include "fbsdk/fbtake.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "fbsdk/fbmodel.h"
#include "scene_state.h"

FBClassImplementation(FBTake);

FBTake::FBTake(const char* name)
    : FBComponent(name, nullptr),
      LocalTimeSpan(FBTimeSpan(FBTime::Zero, FBTime(10 * FBTime::kTicksPerSecond))) {}

FBTake::~FBTake() {
  std::map<std::string, FBAnimationNode*> nodes;
  {
    std::lock_guard<std::mutex> lock(mLock);
    nodes.swap(mRecordNodes);
  }
  for (auto& entry : nodes) delete entry.second;
}

int FBTake::GetLayerCount() const {
  std::lock_guard<std::mutex> lock(mLock);
  return mLayerCount;
}

int FBTake::CreateNewLayer() {
  std::lock_guard<std::mutex> lock(mLock);
  return mLayerCount++;
}

int FBTake::GetCurrentLayer() const {
  std::lock_guard<std::mutex> lock(mLock);
  return mCurrentLayer;
}

void FBTake::SetCurrentLayer(int layer) {
  std::lock_guard<std::mutex> lock(mLock);
  ++mCurrentLayerSets;
  if (layer >= 0 && layer < mLayerCount) mCurrentLayer = layer;
}

int FBTake::CurrentLayerSetCount() const {
  std::lock_guard<std::mutex> lock(mLock);
  return mCurrentLayerSets;
}

std::vector<FBTakeKey> FBTake::GetKeys(const FBAnimationNode* node, int layer) const {
  if (node == nullptr) return {};
  std::lock_guard<std::mutex> lock(mLock);
  const auto curve = mCurves.find(node->GetSerial());
  if (curve == mCurves.end()) return {};
  const auto keys = curve->second.layers.find(layer);
  return keys == curve->second.layers.end() ? std::vector<FBTakeKey>() : keys->second;
}

std::vector<FBTakeKey> FBTake::GetKeys(std::uint64_t nodeSerial, int layer) const {
  std::lock_guard<std::mutex> lock(mLock);
  const auto curve = mCurves.find(nodeSerial);
  if (curve == mCurves.end()) return {};
  const auto keys = curve->second.layers.find(layer);
  return keys == curve->second.layers.end() ? std::vector<FBTakeKey>() : keys->second;
}

std::vector<FBTakeModel> FBTake::GetModels() const {
  std::lock_guard<std::mutex> lock(mLock);
  return mModels;
}

std::uint64_t FBTake::GetRevision() const {
  std::lock_guard<std::mutex> lock(mLock);
  return mRevision;
}

std::vector<FBTakeCurve> FBTake::GetCurves() const {
  std::lock_guard<std::mutex> lock(mLock);
  std::vector<FBTakeCurve> curves;
  for (const auto& [serial, curve] : mCurves) {
    for (const auto& [layer, keys] : curve.layers) {
      FBTakeCurve info;
      info.nodeSerial = serial;
      info.nodeName = curve.nodeName;
      info.dataType = curve.dataType;
      info.layer = layer;
      info.keyCount = static_cast<int>(keys.size());
      curves.push_back(std::move(info));
    }
  }
  return curves;
}

bool FBTake::AddKey(const FBAnimationNode* node, FBTime time, const double* data,
                    FBInterpolation interpolation, FBTangentMode tangentMode) {
  if (node == nullptr || data == nullptr) return false;
  FBTakeKey key;
  key.time = time;
  std::copy(data, data + 3, key.value);
  key.interpolation = interpolation;
  key.tangentMode = tangentMode;
  auto insert = [this, &key](Curve& curve) {
    ++mRevision;
    auto& keys = curve.layers[mCurrentLayer];
    const auto at = std::lower_bound(keys.begin(), keys.end(), key.time,
                                     [](const FBTakeKey& k, FBTime t) { return k.time < t; });
    if (at != keys.end() && at->time == key.time) {
      *at = key;
    } else {
      keys.insert(at, key);
    }
  };
  {
    // The usual case while recording: the node already has its curve, and
    // a key costs no copy of the node's name.
    std::lock_guard<std::mutex> lock(mLock);
    const auto found = mCurves.find(node->GetSerial());
    if (found != mCurves.end() && !found->second.nodeName.empty()) {
      insert(found->second);
      return true;
    }
  }
  // A node's first key: its name is read outside the take's lock, as the
  // name has a lock of its own.
  const std::string name = node->LongName.Get().str();
  std::lock_guard<std::mutex> lock(mLock);
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
  std::lock_guard<std::mutex> lock(mLock);
  return OwnedNodeLocked(name, dataType);
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
      std::lock_guard<std::mutex> lock(mLock);
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
    std::lock_guard<std::mutex> lock(mLock);
    parent = static_cast<int>(mModels.size());
    if (!mModelIndex.emplace(noted.label, parent).second) return;  // two models of one label
    mModels.push_back(std::move(noted));
  }
}

bool FBTake::RestoreModel(const FBTakeModel& model) {
  std::lock_guard<std::mutex> lock(mLock);
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
  std::lock_guard<std::mutex> lock(mLock);
  FBAnimationNode* node = OwnedNodeLocked(nodeName, dataType);
  Curve& curve = mCurves[node->GetSerial()];
  curve.nodeName = nodeName;
  curve.dataType = dataType;
  curve.layers[layer] = std::move(keys);
  mLayerCount = std::max(mLayerCount, layer + 1);
  ++mRevision;
  return true;
}
