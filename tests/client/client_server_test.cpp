// The client library against the real capture server, in process, over
// loopback: what the server computes must be what the caller reads.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "ClientTesting.h"
#include "frame_samples.h"
#include "orbel/protocol/messages.h"
#include "stream_timecode.h"
#include "synthetic_scene.h"
#include "test_scenes.h"

namespace orbel::testing {
namespace {

namespace Result = sdk::Result;
using orbel_test::markerOf;
using orbel_test::segmentOf;
using std::chrono::milliseconds;

std::shared_ptr<server::SyntheticScene> syntheticScene(const std::string& preset = "default",
                                                       double fps = 240) {
  server::SyntheticSceneConfig config;
  config.framesPerSecond = fps;
  EXPECT_TRUE(server::SyntheticSceneConfig::preset(preset, config));
  return std::make_shared<server::SyntheticScene>(config);
}

void enableEverything(sdk::Client& c) {
  ASSERT_EQ(c.EnableSegmentData().Result, Result::Success);
  ASSERT_EQ(c.EnableMarkerData().Result, Result::Success);
  ASSERT_EQ(c.EnableUnlabeledMarkerData().Result, Result::Success);
}

// Everything the client holds for its taken frame, compared with what the
// scene computes for that frame number: names exactly, doubles bit for bit.
void expectFrameExactly(const sdk::Client& c, const server::Scene& scene) {
  const auto number = c.GetFrameNumber();
  ASSERT_EQ(number.Result, Result::Success);
  const std::uint64_t n = number.FrameNumber;
  const auto description = scene.descriptionAt(n);
  protocol::Frame frame;
  scene.frameAt(n, frame);
  SCOPED_TRACE("frame " + std::to_string(n));

  ASSERT_EQ(c.GetSubjectCount().SubjectCount, description->subjects.size());
  for (std::size_t s = 0; s < description->subjects.size(); ++s) {
    const protocol::SubjectInfo& subject = description->subjects[s];
    const sdk::String name = c.GetSubjectName(static_cast<unsigned>(s)).SubjectName;
    ASSERT_EQ(std::string(name), subject.name);
    ASSERT_EQ(c.GetSegmentCount(name).SegmentCount, subject.segments.size());
    for (std::size_t k = 0; k < subject.segments.size(); ++k) {
      const auto segName = c.GetSegmentName(name, static_cast<unsigned>(k));
      ASSERT_EQ(std::string(segName.SegmentName), subject.segments[k].name);
      EXPECT_EQ(std::string(c.GetSegmentParentName(name, segName.SegmentName).SegmentName),
                subject.segments[k].parent);
      const auto t = c.GetSegmentLocalTranslation(name, segName.SegmentName);
      const auto r = c.GetSegmentLocalRotationQuaternion(name, segName.SegmentName);
      ASSERT_EQ(t.Result, Result::Success);
      ASSERT_EQ(r.Result, Result::Success);
      const protocol::SegmentSample& pose = segmentOf(frame, s, k);
      for (int i = 0; i < 3; ++i) EXPECT_TRUE(sameBits(t.Translation[i], pose.translation[i]));
      for (int i = 0; i < 4; ++i) EXPECT_TRUE(sameBits(r.Rotation[i], pose.rotation[i]));
      EXPECT_EQ(t.Occluded, pose.occluded);
    }
    ASSERT_EQ(c.GetMarkerCount(name).MarkerCount, subject.markers.size());
    for (std::size_t k = 0; k < subject.markers.size(); ++k) {
      const auto markerName = c.GetMarkerName(name, static_cast<unsigned>(k));
      ASSERT_EQ(std::string(markerName.MarkerName), subject.markers[k]);
      const auto p = c.GetMarkerGlobalTranslation(name, markerName.MarkerName);
      ASSERT_EQ(p.Result, Result::Success);
      for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(sameBits(p.Translation[i], markerOf(frame, s, k).position[i]));
      }
      EXPECT_EQ(p.Occluded, markerOf(frame, s, k).occluded);
    }
  }
  ASSERT_EQ(c.GetUnlabeledMarkerCount().MarkerCount, frame.unlabeled.size());
  for (std::size_t u = 0; u < frame.unlabeled.size(); ++u) {
    const auto p = c.GetUnlabeledMarkerGlobalTranslation(static_cast<unsigned>(u));
    for (int i = 0; i < 3; ++i)
      EXPECT_TRUE(sameBits(p.Translation[i], frame.unlabeled[u].position[i]));
  }
}

// ---- Exact delivery ------------------------------------------------------------

TEST(ClientAgainstServer, SyntheticFramesArriveBitForBit) {
  auto scene = syntheticScene();
  RunningServer server(scene);
  sdk::Client c;
  ASSERT_EQ(c.Connect(server.address()).Result, Result::Success);
  enableEverything(c);
  std::uint64_t previous = 0;
  for (int i = 0; i < 12; ++i) {
    ASSERT_TRUE(takeFrame(c));
    const std::uint64_t n = c.GetFrameNumber().FrameNumber;
    if (i > 0) {
      EXPECT_GT(n, previous);
    }
    previous = n;
    expectFrameExactly(c, *scene);
  }
}

TEST(ClientAgainstServer, StageSceneArrivesBitForBit) {
  auto scene = syntheticScene("stage", 60);
  RunningServer server(scene);
  sdk::Client c;
  ASSERT_EQ(c.Connect(server.address()).Result, Result::Success);
  enableEverything(c);
  ASSERT_TRUE(takeFrame(c));
  expectFrameExactly(c, *scene);
}

TEST(ClientAgainstServer, ServerTimecodeIsComputedFromTheFrameNumber) {
  auto scene = syntheticScene("small", 120);
  server::ServerConfig config;
  config.timecode = server::TimecodeStandard::NTSCDrop;
  RunningServer server(scene, config);
  sdk::Client c;
  ASSERT_EQ(c.Connect(server.address()).Result, Result::Success);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(takeFrame(c));
    const std::uint64_t n = c.GetFrameNumber().FrameNumber;
    const protocol::TimecodeValue want =
        server::timecodeAtFrame(n, server::FrameRate{120, 1}, server::TimecodeStandard::NTSCDrop);
    const auto tc = c.GetTimecode();
    ASSERT_EQ(tc.Result, Result::Success);
    EXPECT_EQ(tc.Standard, sdk::TimecodeStandard::NTSCDrop);
    EXPECT_EQ(tc.Hours, want.hours);
    EXPECT_EQ(tc.Minutes, want.minutes);
    EXPECT_EQ(tc.Seconds, want.seconds);
    EXPECT_EQ(tc.Frames, want.frames);
  }
}

TEST(ClientAgainstServer, SeveralClientsAreServedAtOnce) {
  auto scene = syntheticScene("small");
  RunningServer server(scene);
  std::vector<std::unique_ptr<sdk::Client>> clients;
  for (int i = 0; i < 4; ++i) {
    clients.push_back(std::make_unique<sdk::Client>());
    ASSERT_EQ(clients.back()->Connect(server.address()).Result, Result::Success);
    enableEverything(*clients.back());
  }
  for (auto& c : clients) {
    ASSERT_TRUE(takeFrame(*c));
    expectFrameExactly(*c, *scene);
  }
  EXPECT_TRUE(waitUntil([&] { return server.server().clientCount() == 4; }));
}

TEST(ClientAgainstServer, ANewDescriptionReplacesTheOldOne) {
  auto scene = syntheticScene("small");
  RunningServer server(scene);
  sdk::Client c;
  ASSERT_EQ(c.Connect(server.address()).Result, Result::Success);
  enableEverything(c);
  ASSERT_TRUE(takeFrame(c));
  ASSERT_EQ(c.GetSubjectCount().SubjectCount, 2u);
  // A name kept across the switch carries where the old description had
  // it; the new one must answer for itself.
  const sdk::String kept = "Actor2";
  ASSERT_EQ(c.GetSegmentCount(kept).Result, Result::Success);
  scene->requestSwitch();
  ASSERT_TRUE(waitUntil([&] {
    return c.GetFrame().Result == Result::Success && c.GetSubjectCount().SubjectCount == 1;
  }));
  expectFrameExactly(c, *scene);
  EXPECT_EQ(c.GetSegmentCount("Actor2").Result, Result::InvalidSubjectName);
  EXPECT_EQ(c.GetSegmentCount(kept).Result, Result::InvalidSubjectName);
}

// ---- Frame hand-off -----------------------------------------------------------------

TEST(ClientAgainstServer, GetFrameAnswersNoFrameUntilANewerFrameArrives) {
  // One frame a second: after taking one, nothing newer is there for a while.
  auto scene = syntheticScene("small", 1);
  RunningServer server(scene);
  sdk::Client c;
  ASSERT_EQ(c.Connect(server.address()).Result, Result::Success);
  ASSERT_TRUE(takeFrame(c));
  const std::uint64_t first = c.GetFrameNumber().FrameNumber;
  EXPECT_EQ(c.GetFrame().Result, Result::NoFrame);
  EXPECT_EQ(c.GetFrame().Result, Result::NoFrame);
  // The frame taken stays put meanwhile.
  EXPECT_EQ(c.GetFrameNumber().FrameNumber, first);
  ASSERT_TRUE(takeFrame(c));
  EXPECT_EQ(c.GetFrameNumber().FrameNumber, first + 1);
  EXPECT_EQ(c.GetFrame().Result, Result::NoFrame);
}

TEST(ClientAgainstServer, FrameTimingCarriesServerAndReceiveTimes) {
  RunningServer server(syntheticScene("small"));
  sdk::Client c;
  ASSERT_EQ(c.Connect(server.address()).Result, Result::Success);
  ASSERT_TRUE(takeFrame(c));
  const auto timing = c.GetFrameTiming();
  ASSERT_EQ(timing.Result, Result::Success);
  EXPECT_GT(timing.ServerSendTimeNs, 0);
  EXPECT_GE(timing.ReceiveTimeNs, timing.ServerSendTimeNs);
}

// ---- Data kinds ---------------------------------------------------------------------

// Wire size of one frame of the scene, with and without the marker section.
std::size_t frameBytes(const server::Scene& scene, std::uint8_t kinds) {
  protocol::Frame f;
  scene.frameAt(0, f);
  std::vector<std::uint8_t> bytes;
  protocol::encode(f, kinds, bytes);
  return bytes.size();
}

double bytesPerFrame(sdk::Client& c, int frames) {
  EXPECT_TRUE(takeFrame(c));
  const std::uint64_t bytes0 = sdk::ClientTestAccess::bytesReceived(c);
  const std::uint64_t n0 = c.GetFrameNumber().FrameNumber;
  EXPECT_TRUE(waitUntil([&] {
    c.GetFrame();
    return c.GetFrameNumber().FrameNumber >= n0 + static_cast<std::uint64_t>(frames);
  }));
  const std::uint64_t bytes1 = sdk::ClientTestAccess::bytesReceived(c);
  const std::uint64_t n1 = c.GetFrameNumber().FrameNumber;
  return static_cast<double>(bytes1 - bytes0) / static_cast<double>(n1 - n0);
}

TEST(ClientAgainstServer, DisablingMarkersStopsThemOnTheWire) {
  auto scene = syntheticScene("small", 200);
  RunningServer server(scene);
  sdk::Client c;
  ASSERT_EQ(c.Connect(server.address()).Result, Result::Success);
  enableEverything(c);
  EXPECT_TRUE(c.IsMarkerDataEnabled().Enabled);

  const double all = static_cast<double>(frameBytes(*scene, protocol::Kind::All));
  const double noMarkers =
      static_cast<double>(frameBytes(*scene, protocol::Kind::All & ~protocol::Kind::Markers));
  const double markerSection = all - noMarkers;
  ASSERT_GT(markerSection, 1000);

  const double before = bytesPerFrame(c, 40);
  ASSERT_EQ(c.DisableMarkerData().Result, Result::Success);
  EXPECT_FALSE(c.IsMarkerDataEnabled().Enabled);
  EXPECT_TRUE(c.IsSegmentDataEnabled().Enabled);
  // Frames from before the acknowledgement may still be in flight; wait for
  // the first one without markers.
  ASSERT_TRUE(waitUntil([&] {
    c.GetFrame();
    return c.GetMarkerGlobalTranslation("Actor1", "Hips_M1").Result == Result::NoFrame;
  }));
  const double after = bytesPerFrame(c, 40);
  EXPECT_GT(before, all - markerSection / 2);
  EXPECT_LT(after, all - markerSection / 2);
  EXPECT_NEAR(after, noMarkers, noMarkers * 0.1);
  // Segments still come.
  EXPECT_EQ(c.GetSegmentLocalTranslation("Actor1", "Hips").Result, Result::Success);
}

TEST(ClientAgainstServer, WishesGivenBeforeConnectingApplyAtConnect) {
  RunningServer server(syntheticScene("small"));
  sdk::Client c;
  EXPECT_EQ(c.EnableMarkerData().Result, Result::NotConnected);
  EXPECT_FALSE(c.IsMarkerDataEnabled().Enabled);
  ASSERT_EQ(c.Connect(server.address()).Result, Result::Success);
  EXPECT_TRUE(waitUntil([&] { return c.IsMarkerDataEnabled().Enabled; }));
  EXPECT_FALSE(c.IsSegmentDataEnabled().Enabled);
  ASSERT_TRUE(waitUntil([&] {
    return c.GetFrame().Result == Result::Success &&
           c.GetMarkerGlobalTranslation("Actor1", "Hips_M1").Result == Result::Success;
  }));
  EXPECT_EQ(c.GetSegmentLocalTranslation("Actor1", "Hips").Result, Result::NoFrame);
}

// ---- Axis mapping -----------------------------------------------------------------

struct MappingRow {
  const char* name;
  sdk::Direction::Enum x, y, z;
  double point[3];  // where the server's (1, 2, 3) must read
  double handedness;
};

// Names the row in test listings instead of dumping its bytes.
void PrintTo(const MappingRow& row, std::ostream* os) { *os << row.name; }

const MappingRow kMappings[] = {
    {"y_up",
     sdk::Direction::PositiveX,
     sdk::Direction::NegativeZ,
     sdk::Direction::PositiveY,
     {1, 3, -2},
     1},
    {"z_up",
     sdk::Direction::PositiveX,
     sdk::Direction::PositiveY,
     sdk::Direction::PositiveZ,
     {1, 2, 3},
     1},
    {"mirrored",
     sdk::Direction::NegativeX,
     sdk::Direction::PositiveY,
     sdk::Direction::PositiveZ,
     {-1, 2, 3},
     -1},
};

class ClientAxisMapping : public ::testing::TestWithParam<MappingRow> {};

TEST_P(ClientAxisMapping, PointsAndRotationsReadInTheMappedFrame) {
  const MappingRow& row = GetParam();
  RunningServer server(std::make_shared<FixedScene>());
  sdk::Client c;
  ASSERT_EQ(c.Connect(server.address()).Result, Result::Success);
  enableEverything(c);
  ASSERT_EQ(c.SetAxisMapping(row.x, row.y, row.z).Result, Result::Success);
  ASSERT_TRUE(takeFrame(c));

  const auto root = c.GetSegmentLocalTranslation("Rig", "Root");
  const auto marker = c.GetMarkerGlobalTranslation("Rig", "Tip");
  const auto unlabeled = c.GetUnlabeledMarkerGlobalTranslation(0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(root.Translation[i], row.point[i]);
    EXPECT_EQ(marker.Translation[i], row.point[i]);
    EXPECT_EQ(unlabeled.Translation[i], row.point[i]);
  }

  // The server's axes, read through the mapping, span a frame of the
  // handedness the mapping promises.
  double axes[3][3];
  for (unsigned a = 0; a < 3; ++a) {
    const auto p = c.GetUnlabeledMarkerGlobalTranslation(a + 1);
    for (int i = 0; i < 3; ++i) axes[a][i] = p.Translation[i];
  }
  const double det = axes[0][0] * (axes[1][1] * axes[2][2] - axes[1][2] * axes[2][1]) -
                     axes[0][1] * (axes[1][0] * axes[2][2] - axes[1][2] * axes[2][0]) +
                     axes[0][2] * (axes[1][0] * axes[2][1] - axes[1][1] * axes[2][0]);
  EXPECT_EQ(det, row.handedness);

  // The root's mapped rotation applied to the child's mapped offset must be
  // the mapped image of the server-side rotated offset.
  const auto rootRotation = c.GetSegmentLocalRotationQuaternion("Rig", "Root");
  const auto childOffset = c.GetSegmentLocalTranslation("Rig", "Child");
  const double* q = rootRotation.Rotation;
  const double* offset = childOffset.Translation;
  auto rotate = [](const double r[4], const double v[3], double out[3]) {
    const double tx = 2 * (r[1] * v[2] - r[2] * v[1]);
    const double ty = 2 * (r[2] * v[0] - r[0] * v[2]);
    const double tz = 2 * (r[0] * v[1] - r[1] * v[0]);
    out[0] = v[0] + r[3] * tx + (r[1] * tz - r[2] * ty);
    out[1] = v[1] + r[3] * ty + (r[2] * tx - r[0] * tz);
    out[2] = v[2] + r[3] * tz + (r[0] * ty - r[1] * tx);
  };
  double mappedRotated[3];
  rotate(q, offset, mappedRotated);
  const double serverOffset[3] = {0.5, -1, 2};
  double serverRotated[3];
  rotate(FixedScene::kRootRotation, serverOffset, serverRotated);
  // Map the server-side result the way the row says points map, using the
  // basis images read above.
  for (int i = 0; i < 3; ++i) {
    const double expected = axes[0][i] * serverRotated[0] + axes[1][i] * serverRotated[1] +
                            axes[2][i] * serverRotated[2];
    EXPECT_NEAR(mappedRotated[i], expected, 1e-12);
  }
}

INSTANTIATE_TEST_SUITE_P(Mappings, ClientAxisMapping, ::testing::ValuesIn(kMappings),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ClientAxisMappingCalls, RefusedMappingChangesNothing) {
  sdk::Client c;
  ASSERT_EQ(c.SetAxisMapping(sdk::Direction::PositiveX, sdk::Direction::NegativeZ,
                             sdk::Direction::PositiveY)
                .Result,
            Result::Success);
  EXPECT_EQ(c.SetAxisMapping(sdk::Direction::PositiveX, sdk::Direction::PositiveX,
                             sdk::Direction::PositiveY)
                .Result,
            Result::InvalidArgument);
  const auto m = c.GetAxisMapping();
  EXPECT_EQ(m.YAxis, sdk::Direction::NegativeZ);
  EXPECT_EQ(m.ZAxis, sdk::Direction::PositiveY);
}

// ---- Result codes -------------------------------------------------------------------

TEST(ClientResults, WithoutAConnectionEveryOperationSaysWhy) {
  sdk::Client c;
  EXPECT_FALSE(c.IsConnected().Connected);
  EXPECT_EQ(c.GetFrame().Result, Result::NotConnected);
  EXPECT_EQ(c.Disconnect().Result, Result::NotConnected);
  EXPECT_EQ(c.EnableSegmentData().Result, Result::NotConnected);
  EXPECT_EQ(c.SetStreamMode(sdk::StreamMode::ClientPull).Result, Result::NotConnected);
  EXPECT_FALSE(c.IsSegmentDataEnabled().Enabled);
  EXPECT_EQ(c.GetSubjectCount().Result, Result::NoFrame);
  EXPECT_EQ(c.GetSegmentLocalTranslation("A", "B").Result, Result::NoFrame);
  EXPECT_EQ(c.GetTimecode().Result, Result::NoFrame);
}

TEST(ClientResults, BadNamesAndIndicesHaveTheirOwnCodes) {
  RunningServer server(syntheticScene("small"));
  sdk::Client c;
  ASSERT_EQ(c.Connect(server.address()).Result, Result::Success);
  enableEverything(c);
  ASSERT_TRUE(takeFrame(c));
  EXPECT_EQ(c.GetSubjectName(2).Result, Result::InvalidIndex);
  EXPECT_EQ(c.GetSegmentCount("Nobody").Result, Result::InvalidSubjectName);
  EXPECT_EQ(c.GetSegmentName("Actor1", 20).Result, Result::InvalidIndex);
  EXPECT_EQ(c.GetSegmentParentName("Actor1", "Tail").Result, Result::InvalidSegmentName);
  EXPECT_EQ(c.GetSegmentLocalTranslation("Actor1", "Tail").Result, Result::InvalidSegmentName);
  EXPECT_EQ(c.GetSegmentLocalRotationQuaternion("", "Hips").Result, Result::InvalidSubjectName);
  EXPECT_EQ(c.GetMarkerName("Actor1", 40).Result, Result::InvalidIndex);
  EXPECT_EQ(c.GetMarkerGlobalTranslation("Actor1", "Hips").Result, Result::InvalidMarkerName);
  EXPECT_EQ(c.GetUnlabeledMarkerGlobalTranslation(100).Result, Result::InvalidIndex);
  EXPECT_EQ(std::string(c.GetSegmentParentName("Actor1", "Hips").SegmentName), "");
  EXPECT_EQ(c.SetStreamMode(sdk::StreamMode::ClientPull).Result, Result::Success);
}

TEST(ClientResults, ConnectFailuresAreTold) {
  RunningServer server(syntheticScene("small"));
  // A port nobody listens on: the server's, once it has stopped.
  RunningServer gone(syntheticScene("small"));
  const std::string refused = gone.address();
  gone.stop();
  struct Row {
    std::string address;
    Result::Enum expected;
  };
  for (const Row& row :
       {Row{"localhost", Result::InvalidHostName},
        Row{"127.0.0.1:notaport", Result::InvalidHostName},
        Row{"127.0.0.1:0", Result::InvalidHostName}, Row{refused, Result::ConnectionFailed}}) {
    sdk::Client c;
    EXPECT_EQ(c.Connect(row.address).Result, row.expected) << row.address;
    EXPECT_FALSE(c.IsConnected().Connected);
    EXPECT_FALSE(sdk::ClientTestAccess::lastErrorText(c).empty());
  }
  sdk::Client c;
  ASSERT_EQ(c.Connect(server.address()).Result, Result::Success);
  EXPECT_EQ(c.Connect(server.address()).Result, Result::ClientAlreadyConnected);
}

// ---- Connection lifetime -----------------------------------------------------------

TEST(ClientLifetime, IsConnectedTurnsFalseWhenTheServerGoesAway) {
  auto server = std::make_unique<RunningServer>(syntheticScene("small"));
  sdk::Client c;
  ASSERT_EQ(c.Connect(server->address()).Result, Result::Success);
  ASSERT_TRUE(takeFrame(c));
  server->stop();
  EXPECT_TRUE(waitUntil([&] { return !c.IsConnected().Connected; }, std::chrono::seconds(3)));
  EXPECT_NE(sdk::ClientTestAccess::lastErrorText(c).find("server shutting down"), std::string::npos)
      << sdk::ClientTestAccess::lastErrorText(c);
  EXPECT_EQ(c.GetFrame().Result, Result::NotConnected);
  EXPECT_FALSE(c.IsSegmentDataEnabled().Enabled);
  // Last frame's values stay readable.
  EXPECT_EQ(c.GetSubjectCount().Result, Result::Success);

  // And the same client connects again to a new server.
  server = std::make_unique<RunningServer>(syntheticScene("small"));
  ASSERT_EQ(c.Connect(server->address()).Result, Result::Success);
  ASSERT_EQ(c.EnableSegmentData().Result, Result::Success);
  EXPECT_TRUE(takeFrame(c));
  EXPECT_EQ(c.Disconnect().Result, Result::Success);
  EXPECT_FALSE(c.IsConnected().Connected);
}

TEST(ClientLifetime, EveryOperationFromManyThreadsAtOnce) {
  auto scene = syntheticScene("small", 500);
  RunningServer server(scene);
  sdk::Client c;
  ASSERT_EQ(c.Connect(server.address()).Result, Result::Success);
  enableEverything(c);
  std::atomic<bool> stop{false};
  std::atomic<int> framesTaken{0};
  std::vector<std::thread> threads;
  threads.emplace_back([&] {  // the plug-in's input thread
    while (!stop) {
      if (c.GetFrame().Result == Result::Success) ++framesTaken;
      const unsigned subjects = c.GetSubjectCount().SubjectCount;
      for (unsigned s = 0; s < subjects; ++s) {
        const sdk::String name = c.GetSubjectName(s).SubjectName;
        const unsigned segments = c.GetSegmentCount(name).SegmentCount;
        for (unsigned k = 0; k < segments; ++k) {
          const sdk::String seg = c.GetSegmentName(name, k).SegmentName;
          c.GetSegmentLocalTranslation(name, seg);
          c.GetSegmentLocalRotationQuaternion(name, seg);
        }
      }
      c.GetTimecode();
    }
  });
  threads.emplace_back([&] {  // the panel
    for (int i = 0; !stop; ++i) {
      if (i % 2) {
        c.DisableMarkerData();
      } else {
        c.EnableMarkerData();
      }
      c.SetAxisMapping(sdk::Direction::PositiveX,
                       i % 2 ? sdk::Direction::NegativeZ : sdk::Direction::PositiveY,
                       i % 2 ? sdk::Direction::PositiveY : sdk::Direction::PositiveZ);
    }
  });
  threads.emplace_back([&] {  // the evaluation thread
    while (!stop) {
      c.IsConnected();
      c.IsMarkerDataEnabled();
      c.GetMarkerGlobalTranslation("Actor1", "Hips_M1");
      c.GetUnlabeledMarkerGlobalTranslation(3);
    }
  });
  EXPECT_TRUE(waitUntil([&] { return framesTaken > 20; }));
  stop = true;
  for (auto& t : threads) t.join();
  EXPECT_TRUE(c.IsConnected().Connected);
  EXPECT_EQ(c.Disconnect().Result, Result::Success);
}

TEST(ClientLifetime, ThreadsThatEndLetGoOfTheFramesTheyRead) {
  // Each thread that queries keeps the frame it read from being refilled
  // until it reads again or ends; an ending thread that kept its frame
  // would make every later GetFrame allocate a new one.
  auto scene = syntheticScene("small", 500);
  RunningServer server(scene);
  sdk::Client c;
  ASSERT_EQ(c.Connect(server.address()).Result, Result::Success);
  enableEverything(c);
  ASSERT_TRUE(takeFrame(c));
  for (int round = 0; round < 16; ++round) {
    std::thread reader([&] { EXPECT_EQ(c.GetSubjectCount().Result, Result::Success); });
    reader.join();
    ASSERT_TRUE(takeFrame(c));
  }
  // The current state, the one this thread still keeps, and a spare.
  EXPECT_LE(sdk::ClientTestAccess::takenStates(c), 3u);

  // A thread that keeps reading holds one more, never more.
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop) c.GetFrameNumber();
  });
  for (int round = 0; round < 50; ++round) ASSERT_TRUE(takeFrame(c));
  stop = true;
  reader.join();
  EXPECT_LE(sdk::ClientTestAccess::takenStates(c), 5u);
}

TEST(ClientLifetime, DestroyingAConnectedClientDisconnects) {
  RunningServer server(syntheticScene("small"));
  {
    sdk::Client c;
    ASSERT_EQ(c.Connect(server.address()).Result, Result::Success);
    ASSERT_TRUE(waitUntil([&] { return server.server().clientCount() == 1; }));
  }
  EXPECT_TRUE(waitUntil([&] { return server.server().clientCount() == 0; }));
}

}  // namespace
}  // namespace orbel::testing
