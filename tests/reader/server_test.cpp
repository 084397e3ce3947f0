// The reader with the real stream client against a capture server running in
// this process on an ephemeral port, serving a small exact scene.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fbsdk/fbtimecode.h>

#include "Net.h"
#include "OrbelDataReader.h"
#include "capture_server.h"
#include "running_server.h"
#include "scene.h"
#include "sockets.h"
#include "thread_allocations.h"

namespace {

namespace protocol = orbel::protocol;
namespace server = orbel::server;
using Clock = std::chrono::steady_clock;

// The same description and values on every frame.
class FixedScene final : public server::Scene {
 public:
  FixedScene(protocol::Description description, protocol::Frame frame)
      : mDescription(std::make_shared<const protocol::Description>(std::move(description))),
        mFrame(std::move(frame)) {}

  double framesPerSecond() const override { return 200; }
  std::shared_ptr<const protocol::Description> descriptionAt(std::uint64_t) const override {
    return mDescription;
  }
  void frameAt(std::uint64_t n, protocol::Frame& out) const override {
    out = mFrame;
    out.number = n;
  }
  bool providesTimecode() const override { return true; }

 private:
  std::shared_ptr<const protocol::Description> mDescription;
  protocol::Frame mFrame;
};

// Bob: Hips (root) and Spine, marker LFHD at (1, 2, 3) in the server's Z-up
// frame, twelve unlabelled markers at (i, 0, 0), timecode 10:20:30:12 PAL.
std::shared_ptr<const server::Scene> BobScene() {
  protocol::Description description;
  description.subjects.push_back({"Bob", {{"Hips", ""}, {"Spine", "Hips"}}, {"LFHD"}});
  protocol::Frame frame;
  frame.segmentCounts = {2};
  frame.segments.resize(2);
  frame.segments[0].translation[0] = 10;
  frame.segments[1].translation[0] = 20;
  frame.markerCounts = {1};
  frame.markers.resize(1);
  frame.markers[0].position[0] = 1;
  frame.markers[0].position[1] = 2;
  frame.markers[0].position[2] = 3;
  frame.unlabeled.resize(12);
  for (std::size_t i = 0; i < frame.unlabeled.size(); ++i) {
    frame.unlabeled[i].position[0] = static_cast<double>(i);
  }
  frame.timecode = {10, 20, 30, 12, 1};
  return std::make_shared<FixedScene>(std::move(description), std::move(frame));
}

// Polls until f answers true or a generous deadline passes. Only a broken
// build waits the whole time; a working one answers within a few frames.
bool Eventually(const std::function<bool()>& f) {
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    if (f()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

class ServerReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { StartServer(Scene()); }
  virtual std::shared_ptr<const server::Scene> Scene() { return BobScene(); }

  void StartServer(std::shared_ptr<const server::Scene> scene) {
    mServer = std::make_unique<orbel::testing::RunningServer>(std::move(scene));
    ASSERT_TRUE(mServer->started());
    reader = std::make_unique<OrbelDataReader>();
    reader->SetServerHost("127.0.0.1");
    reader->SetServerPort(std::to_string(mServer->port()).c_str());
  }

  void TearDown() override {
    reader.reset();
    if (mServer) mServer->stop();
  }

  void ConnectAndDescribe() {
    ASSERT_TRUE(reader->ConnectToServer(5));
    ASSERT_TRUE(reader->StreamOptionsApplied());
    ASSERT_TRUE(Eventually([&] { return reader->ReadDescription(true); }));
  }

  // Takes a frame newer than any the client holds, then reads it into the
  // records. The frames just after a connect may have left the server before
  // it took the wanted data kinds, and so may lack some of them.
  bool FreshFrame() {
    return Eventually([&] { return reader->RequestFrame(); }) && reader->ReadFrame(FBTime::Zero);
  }

  // The labelled marker's position after a fresh frame.
  std::vector<double> MarkerAfterFrame() {
    EXPECT_TRUE(FreshFrame());
    const double* p = reader->markers.at("Bob:LFHD").position;
    return {p[0], p[1], p[2]};
  }

  std::unique_ptr<orbel::testing::RunningServer> mServer;
  std::unique_ptr<OrbelDataReader> reader;
};

TEST_F(ServerReaderTest, DescriptionAndFrameFromTheServer) {
  ConnectAndDescribe();
  EXPECT_EQ(reader->subjectNames, std::vector<FBString>{"Bob"});
  ASSERT_EQ(reader->segments.size(), 2u);
  EXPECT_TRUE(reader->segments.at("Bob:Hips").root);
  EXPECT_EQ(reader->segments.at("Bob:Spine").parentKey, "Bob:Hips");
  EXPECT_EQ(reader->unlabeledMarkers.size(), 100u);

  ASSERT_TRUE(FreshFrame());
  EXPECT_EQ(reader->segments.at("Bob:Spine").translation[0], 20.0);
  // Unlabelled indices follow the key order: with twelve on the stage and a
  // hundred records, Unlabeled:10 reads index 2 and Unlabeled:2 index 12,
  // which the frame does not hold.
  EXPECT_EQ(reader->unlabeledMarkers.at("Unlabeled:10").position[0], 2.0);
  EXPECT_EQ(reader->unlabeledMarkers.at("Unlabeled:11").position[0], 3.0);
  EXPECT_EQ(reader->unlabeledMarkers.at("Unlabeled:2").position[0], 0.0);

  reader->unlabeledMarkerCount = 12;
  ASSERT_TRUE(Eventually([&] { return reader->ReadDescription(true); }));
  ASSERT_TRUE(FreshFrame());
  EXPECT_EQ(reader->unlabeledMarkers.at("Unlabeled:2").position[0], 4.0);
  EXPECT_EQ(reader->unlabeledMarkers.at("Unlabeled:9").position[0], 11.0);
}

// Names longer than a short string keeps inline, so that building a client
// text per query would show up as allocations.
class LongNameServerTest : public ServerReaderTest {
 protected:
  std::shared_ptr<const server::Scene> Scene() override {
    protocol::Description description;
    description.subjects.push_back(
        {"PerformerNumberTwelveOnStage",
         {{"PelvisRootSegmentName", ""}, {"LeftForeArmRollJointSegment", "PelvisRootSegmentName"}},
         {"LeftWristOuterMarkerName"}});
    protocol::Frame frame;
    frame.segmentCounts = {2};
    frame.segments.resize(2);
    frame.markerCounts = {1};
    frame.markers.resize(1);
    frame.unlabeled.resize(100);
    frame.timecode = {1, 2, 3, 4, 1};
    return std::make_shared<FixedScene>(std::move(description), std::move(frame));
  }
};

TEST_F(LongNameServerTest, FramesAllocateNothing) {
  ConnectAndDescribe();
  reader->SetUseTimecode(true);
  ASSERT_TRUE(FreshFrame());
  const std::uint64_t before = orbel::testing::ThreadAllocations();
  // New frames come and are taken; a call between two frames takes none.
  int taken = 0;
  for (int i = 0; i < 20000 && taken < 20; ++i) {
    taken += reader->ReadFrame(FBTime::Zero) ? 1 : 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(taken, 20);
  EXPECT_EQ(orbel::testing::ThreadAllocations() - before, 0u);
}

TEST_F(ServerReaderTest, EveryConnectSetsYUp) {
  ConnectAndDescribe();
  // Server Z is up; "Y-Up" puts it on Y and server Y on -Z.
  EXPECT_EQ(MarkerAfterFrame(), (std::vector<double>{1, 3, -2}));
  ASSERT_TRUE(reader->SetAxisMapping(1));
  EXPECT_TRUE(Eventually([&] { return MarkerAfterFrame() == std::vector<double>{1, 2, 3}; }));

  ASSERT_TRUE(reader->DisconnectFromServer());
  EXPECT_FALSE(reader->StreamOptionsApplied());
  EXPECT_FALSE(reader->ReadFrame(FBTime::Zero));
  ASSERT_TRUE(reader->ConnectToServer(5));
  EXPECT_TRUE(Eventually([&] { return MarkerAfterFrame() == std::vector<double>{1, 3, -2}; }));
}

TEST_F(ServerReaderTest, ConnectedReaderConnectsAgainWithoutWaiting) {
  ASSERT_TRUE(reader->ConnectToServer(5));
  int sleeps = 0;
  reader->SetConnectClock({nullptr, [&](std::uint32_t) { ++sleeps; }});
  EXPECT_TRUE(reader->ConnectToServer(5));
  EXPECT_EQ(sleeps, 0);
}

TEST_F(ServerReaderTest, WishesGivenBeforeConnectingReachTheServer) {
  ASSERT_TRUE(reader->SetMarkerData(false));
  ASSERT_TRUE(reader->SetUnlabeledMarkerData(false));
  ASSERT_TRUE(reader->ConnectToServer(5));
  EXPECT_TRUE(reader->SegmentDataEnabled());
  EXPECT_FALSE(reader->MarkerDataEnabled());
  EXPECT_FALSE(reader->UnlabeledMarkerDataEnabled());
  EXPECT_TRUE(reader->StreamOptionsApplied());
  ASSERT_TRUE(Eventually([&] { return reader->ReadDescription(true); }));
  ASSERT_TRUE(FreshFrame());
  EXPECT_EQ(reader->segments.at("Bob:Hips").translation[0], 10.0);
  EXPECT_EQ(reader->markers.at("Bob:LFHD").position[0], 0.0) << "markers not streamed";
}

TEST_F(ServerReaderTest, StreamTimecode) {
  ConnectAndDescribe();
  ASSERT_TRUE(reader->ReadTimecodeStandard());
  EXPECT_EQ(reader->timecode.GetRate(), FBTimeCode::PAL_25);
  reader->SetUseTimecode(true);
  ASSERT_TRUE(FreshFrame());
  EXPECT_EQ(reader->timecode.GetHours(), 10);
  EXPECT_EQ(reader->timecode.GetMinutes(), 20);
  EXPECT_EQ(reader->timecode.GetSeconds(), 30);
  EXPECT_EQ(reader->timecode.GetFrames(), 12.0f);
}

TEST(ServerReaderUnreachableTest, GivesUpAfterTwentySixAttempts) {
  // A port that was just free and has nobody listening.
  std::uint16_t port = 0;
  std::string error;
  const int probe = orbel::server::listenOn("127.0.0.1", 0, port, error);
  ASSERT_GE(probe, 0) << error;
  orbel::net::closeSocket(probe);

  OrbelDataReader reader;
  reader.SetServerHost("127.0.0.1");
  reader.SetServerPort(std::to_string(port).c_str());
  std::int64_t nowMs = 0;
  int attempts = 0;
  reader.SetConnectClock({[&] { return nowMs; },
                          [&](std::uint32_t ms) {
                            ++attempts;  // one sleep follows every attempt
                            nowMs += ms;
                          }});
  EXPECT_FALSE(reader.ConnectToServer(5));
  EXPECT_EQ(attempts, 26);
  EXPECT_EQ(nowMs, 5200);
  EXPECT_FALSE(reader.StreamOptionsApplied());
}

TEST_F(ServerReaderTest, FramesWhileDescriptionAndPauseChange) {
  ConnectAndDescribe();
  std::atomic<bool> stop{false};
  std::atomic<int> frames{0}, descriptions{0}, pauses{0};
  std::thread input([&] {
    while (!stop) {
      if (reader->ReadFrame(FBTime::Zero)) ++frames;
    }
  });
  std::thread device([&] {
    while (!stop) {
      if (reader->ReadDescription(descriptions % 2 == 0)) ++descriptions;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  std::thread panel([&] {
    bool paused = false;
    while (!stop) {
      paused = !paused;
      if (reader->SetPaused(paused)) ++pauses;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    reader->SetPaused(false);
  });
  std::this_thread::sleep_for(std::chrono::seconds(2));
  stop = true;
  input.join();
  device.join();
  panel.join();
  EXPECT_GT(frames.load(), 0);
  EXPECT_GT(descriptions.load(), 0);
  EXPECT_GT(pauses.load(), 0);
  EXPECT_EQ(reader->segments.size(), 2u);
}

}  // namespace
