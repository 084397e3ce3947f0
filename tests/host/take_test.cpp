// Takes (layers, keyed curves, time span), the reference-time table, and the
// plug-in's read-only views of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "fbhost/scene.h"
#include "fbsdk/fbsdk.h"

namespace {

class TakeTest : public ::testing::Test {
 protected:
  void SetUp() override { fbhost::ResetScene(); }
  void TearDown() override { fbhost::ResetScene(); }

  FBBox mBox{"box"};
};

FBTime Ms(long long ms) { return FBTime::FromMilliSeconds(ms); }

TEST_F(TakeTest, KeysGoToTheCurrentLayerInTimeOrderOnePerTime) {
  FBTake* take = fbhost::CurrentTake();
  ASSERT_NE(take, nullptr);
  FBAnimationNode* node = mBox.AnimationNodeOutCreate(0, "n", kFBDataTypeTranslation);
  const double a[3] = {1, 2, 3};
  const double b[3] = {4, 5, 6};
  const double c[3] = {7, 8, 9};
  EXPECT_TRUE(node->KeyAdd(Ms(20), a));
  EXPECT_TRUE(node->KeyAdd(Ms(10), b, kFBInterpolationLinear, kFBTangentModeUser));
  EXPECT_TRUE(node->KeyAdd(Ms(20), c));  // replaces the key at 20 ms
  EXPECT_FALSE(node->KeyAdd(Ms(30), nullptr));

  const std::vector<FBTakeKey> keys = take->GetKeys(node, 0);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].time, Ms(10));
  EXPECT_EQ(keys[0].value[2], 6);
  EXPECT_EQ(keys[0].interpolation, kFBInterpolationLinear);
  EXPECT_EQ(keys[0].tangentMode, kFBTangentModeUser);
  EXPECT_EQ(keys[1].time, Ms(20));
  EXPECT_EQ(keys[1].value[0], 7);
  EXPECT_EQ(keys[1].interpolation, kFBInterpolationCubic);

  EXPECT_EQ(take->CreateNewLayer(), 1);
  take->SetCurrentLayer(1);
  node->KeyAdd(Ms(40), a);
  EXPECT_EQ(take->GetKeys(node, 0).size(), 2u);
  EXPECT_EQ(take->GetKeys(node, 1).size(), 1u);
  const auto curves = take->GetCurves();
  ASSERT_EQ(curves.size(), 2u);
  EXPECT_EQ(curves[0].nodeName, "n");
  EXPECT_EQ(curves[0].layer, 0);
  EXPECT_EQ(curves[1].layer, 1);
}

// A recorded curve is appended block by block: keys across block ends,
// runs of modes, and edits before the last key must all read back in order.
TEST_F(TakeTest, RecordedCurvesKeepEveryKeyInOrderWithItsModes) {
  FBTake* take = fbhost::CurrentTake();
  FBAnimationNode* node = take->RecordNode("m", "Lcl Translation");
  using Key = std::tuple<long long, double, double, int>;
  std::map<long long, Key> expected;
  auto key = [&](long long ms, double v, FBInterpolation interpolation) {
    const double values[3] = {v, -v, 2 * v};
    ASSERT_TRUE(node->KeyAdd(Ms(ms), values, interpolation, kFBTangentModeAuto));
    expected[ms] = Key{ms, v, 2 * v, interpolation};
  };
  auto read = [&](int layer) {
    std::vector<Key> keys;
    for (const FBTakeKey& k : take->GetKeys(node, layer)) {
      EXPECT_EQ(k.value[1], -k.value[0]);
      keys.emplace_back(k.time.GetMilliSeconds(), k.value[0], k.value[2], k.interpolation);
    }
    return keys;
  };
  for (int i = 0; i < 6000; ++i) {
    key(4 * i + 2, i, i % 1500 < 3 ? kFBInterpolationLinear : kFBInterpolationCubic);
  }
  key(7, 0.5, kFBInterpolationConstant);           // between two keys
  key(2, 9, kFBInterpolationCubic);                // replaces the first
  key(1, 8, kFBInterpolationLinear);               // before every key
  key(4 * 5999 + 2, 3, kFBInterpolationConstant);  // replaces the last
  key(4 * 6000 + 2, 4, kFBInterpolationCubic);     // appends after an edit
  std::vector<Key> want;
  for (const auto& entry : expected) want.push_back(entry.second);
  EXPECT_EQ(read(0), want);

  take->CreateNewLayer();
  take->SetCurrentLayer(1);
  const double values[3] = {1, -1, 2};
  ASSERT_TRUE(node->KeyAdd(Ms(5), values, kFBInterpolationCubic, kFBTangentModeAuto));
  EXPECT_EQ(read(1), (std::vector<Key>{Key{5, 1, 2, kFBInterpolationCubic}}));
  EXPECT_EQ(read(0), want);
}

// A recording keys its nodes in one order sample after sample, and the take
// fetches ahead along the order it learned: a node passed over, the order
// reversed, nodes that stop, a layer switch and a node keyed twice must
// each still put every key on its own curve, past the first block and past
// the first chunk of the take's key memory (later ones come from a thread).
TEST_F(TakeTest, KeysLandOnTheirOwnCurvesWhateverOrderTheSamplesKeepTo) {
  FBTake* take = fbhost::CurrentTake();
  constexpr int kNodes = 24;
  std::vector<FBAnimationNode*> nodes;
  nodes.reserve(kNodes);
  for (int n = 0; n < kNodes; ++n) {
    nodes.push_back(take->RecordNode("m" + std::to_string(n), "Lcl Translation"));
  }
  take->CreateNewLayer();
  std::map<std::pair<int, int>, std::vector<std::pair<long long, double>>> expected;
  constexpr int kSamples = 7000;  // some 5 MiB of keys: three chunks
  for (int sample = 0; sample < kSamples; ++sample) {
    std::vector<int> order(kNodes);
    std::iota(order.begin(), order.end(), 0);
    if (sample % 7 == 3) order.erase(order.begin() + sample % kNodes);
    if (sample >= kSamples * 3 / 7 && sample < kSamples * 4 / 7)
      std::reverse(order.begin(), order.end());
    if (sample >= kSamples * 5 / 7) order.resize(kNodes / 2);
    if (sample % 50 == 10) order.insert(order.begin() + 5, order[2]);  // keyed twice
    const int layer = sample >= kSamples * 6 / 7 ? 1 : 0;
    take->SetCurrentLayer(layer);
    for (int n : order) {
      const double values[3] = {sample * 100.0 + n, 0, 0};
      ASSERT_TRUE(nodes[n]->KeyAdd(Ms(sample), values));
      auto& keys = expected[{n, layer}];
      if (keys.empty() || keys.back().first != sample) keys.emplace_back(sample, values[0]);
    }
  }
  for (int n = 0; n < kNodes; ++n) {
    for (int layer = 0; layer < 2; ++layer) {
      SCOPED_TRACE(testing::Message() << "node " << n << " layer " << layer);
      std::vector<std::pair<long long, double>> got;
      for (const FBTakeKey& key : take->GetKeys(nodes[n], layer)) {
        got.emplace_back(key.time.GetMilliSeconds(), key.value[0]);
      }
      EXPECT_EQ(got, (expected[{n, layer}]));
    }
  }
}

// A take's next key memory is made on a thread of its own: a take freed,
// or its spare given back, while that memory is being made must not be
// reached by it afterwards (the address sanitizer sees the fault).
TEST_F(TakeTest, TakesFreedWhileTheirKeyMemoryIsMadeAreLeftAlone) {
  for (int round = 0; round < 40; ++round) {
    FBTake take("scratch");
    FBAnimationNode* node = take.RecordNode("m", "Lcl Translation");
    const double values[3] = {1, 2, 3};
    ASSERT_TRUE(node->KeyAdd(Ms(round), values));
    if (round % 2 == 1) take.ReleaseSpareKeyMemory();
    EXPECT_EQ(take.GetKeys(node, 0).size(), 1u);
  }
}

TEST_F(TakeTest, SetCurrentLayerIgnoresLayersThatDoNotExist) {
  FBTake* take = fbhost::CurrentTake();
  take->CreateNewLayer();
  take->CreateNewLayer();
  struct Case {
    int asked;
    int current;
  };
  for (const Case& c : {Case{2, 2}, Case{3, 2}, Case{-1, 2}, Case{0, 0}, Case{1, 1}}) {
    SCOPED_TRACE(c.asked);
    take->SetCurrentLayer(c.asked);
    EXPECT_EQ(take->GetCurrentLayer(), c.current);
  }
  EXPECT_EQ(take->CurrentLayerSetCount(), 5);
}

TEST_F(TakeTest, TheSystemShowsTheCurrentTakeAndSceneReadOnly) {
  FBSystem system;
  FBTake* first = system.CurrentTake;
  EXPECT_EQ(first, fbhost::CurrentTake());
  EXPECT_EQ(first->LocalTimeSpan.Get(), FBTimeSpan(FBTime::Zero, Ms(10000)));
  FBTake* second = fbhost::CreateTake("Take 002");
  EXPECT_EQ(system.CurrentTake.Get(), first) << "a new take is not current";
  EXPECT_TRUE(fbhost::SetCurrentTake(second));
  EXPECT_EQ(system.CurrentTake.Get(), second);
  EXPECT_FALSE(system.CurrentTake.Set(first));
  EXPECT_EQ(system.CurrentTake.Get(), second);
  FBTake stranger("not in the scene");
  EXPECT_FALSE(fbhost::SetCurrentTake(&stranger));
  EXPECT_EQ(system.Scene.Get(), fbhost::CurrentScene());

  // Keys follow the current take.
  FBAnimationNode* node = mBox.AnimationNodeOutCreate(0, "n", kFBDataTypeRotation);
  const double v[3] = {1, 1, 1};
  node->KeyAdd(Ms(1), v);
  EXPECT_TRUE(first->GetKeys(node, 0).empty());
  EXPECT_EQ(second->GetKeys(node, 0).size(), 1u);
}

TEST_F(TakeTest, PlayerFlagsAreReadOnlyViews) {
  FBPlayerControl one;
  FBPlayerControl two;
  EXPECT_FALSE(one.IsRecording.Set(true));
  EXPECT_FALSE(two.IsPlaying.Set(true));
  EXPECT_FALSE(one.IsRecording.Get());
  EXPECT_FALSE(two.IsPlaying.Get());
}

TEST_F(TakeTest, ReferenceTimeStampsOnlyLiveEntries) {
  FBReferenceTime reference;
  const int first = reference.Add("OrbelOpticalTimecode");
  const int second = reference.Add(nullptr);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
  EXPECT_TRUE(reference.Remove(first));
  EXPECT_FALSE(reference.Remove(first));
  EXPECT_EQ(reference.Add("again"), 2) << "a removed number is not given out again";

  struct Case {
    int index;
    bool stamped;
  };
  for (const Case& c : {Case{-1, false}, Case{first, false}, Case{second, true}, Case{3, false},
                        Case{1 << 30, false}}) {
    SCOPED_TRACE(c.index);
    EXPECT_EQ(reference.SetTime(c.index, Ms(100), Ms(200)), c.stamped);
  }
  EXPECT_EQ(fbhost::RefusedReferenceTimeStamps(), 4);
  const auto records = fbhost::ReferenceTimes();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].name, "OrbelOpticalTimecode");
  EXPECT_TRUE(records[0].removed);
  EXPECT_EQ(records[1].stampCount, 1);
  EXPECT_EQ(records[1].lastReferenceTime, Ms(100));
  EXPECT_EQ(records[1].lastSystemTime, Ms(200));
}

}  // namespace
