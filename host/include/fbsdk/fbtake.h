// fbtake.h: FBTake, one take of the scene: its time span, its animation
// layers, and the keyed curves that recording writes.
//
// Side of the boundary: SDK. Implemented in libfbsdk (src/fbtake.cpp).
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

using FBPropertyTimeSpan = FBPropertyBase<FBTimeSpan>;

// One key as the take holds it.
struct FBTakeKey {
  FBTime time;
  double value[3] = {0.0, 0.0, 0.0};
  FBInterpolation interpolation = kFBInterpolationCubic;
  FBTangentMode tangentMode = kFBTangentModeAuto;
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
  // Every curve, ordered by node serial and then layer.
  std::vector<FBTakeCurve> GetCurves() const;

  // Host side. Adds one key to the node's curve in the current layer; false
  // when data is null.
  bool AddKey(const FBAnimationNode* node, FBTime time, const double* data,
              FBInterpolation interpolation, FBTangentMode tangentMode);
  // The node of this take that receives the recorded keys of one model's
  // property (made at the first request, then the same node).
  FBAnimationNode* RecordNode(const std::string& modelLabel, const std::string& dataType);
  // How many times SetCurrentLayer has been called (statistics).
  int CurrentLayerSetCount() const;

 private:
  struct Curve {
    std::string nodeName;
    std::string dataType;
    std::map<int, std::vector<FBTakeKey>> layers;
  };
  mutable std::mutex mLock;
  int mLayerCount = 1;
  int mCurrentLayer = 0;
  int mCurrentLayerSets = 0;
  std::map<std::uint64_t, Curve> mCurves;
  std::map<std::string, FBAnimationNode*> mRecordNodes;  // owned
};
