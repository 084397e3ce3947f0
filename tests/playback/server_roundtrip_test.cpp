// The real capture server, in process on an ephemeral loopback port, serving
// scene files and a BVH recording to the real client: what the client reads
// back is what the scene computed, bit for bit.
#include <OrbelDataStreamSDK/Client.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>

#include "capture_server.h"
#include "frame_samples.h"
#include "playback/loaders.h"
#include "rotation.h"
#include "running_server.h"

namespace orbel::server::playback {
namespace {

namespace sdk = OrbelDataStreamSDK::CPP;
using orbel_test::markerOf;
using orbel_test::segmentOf;

// Waits on the network, not on the machine's speed: the limit is only there
// so that a broken build fails instead of hanging.
bool eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

class Served {
 public:
  explicit Served(std::shared_ptr<Scene> scene) : scene_(scene), server_(std::move(scene)) {}
  ~Served() {
    client_.Disconnect();
    server_.stop();
  }

  // Connects with every kind of data enabled and takes a first frame.
  bool connect() {
    if (!server_.started()) return false;
    const std::string address = server_.address();
    if (client_.Connect(address).Result != sdk::Result::Success) return false;
    client_.EnableSegmentData();
    client_.EnableMarkerData();
    client_.EnableUnlabeledMarkerData();
    return eventually([&] {
             return client_.IsSegmentDataEnabled().Enabled &&
                    client_.IsMarkerDataEnabled().Enabled &&
                    client_.IsUnlabeledMarkerDataEnabled().Enabled;
           }) &&
           // A frame received before the acknowledgement may lack the newly
           // enabled data; the one after it cannot.
           nextFrame() && nextFrame();
  }

  bool nextFrame() {
    return eventually([&] { return client_.GetFrame().Result == sdk::Result::Success; });
  }

  std::uint64_t frameNumber() const { return client_.GetFrameNumber().FrameNumber; }
  sdk::Client& client() { return client_; }
  Scene& scene() { return *scene_; }
  std::string log() const {
    std::string text;
    for (const std::string& line : server_.log()) text += line + "\n";
    return text;
  }

 private:
  std::shared_ptr<Scene> scene_;
  orbel::testing::RunningServer server_;
  sdk::Client client_;
};

bool sameBits(const double* a, const double* b, std::size_t n) {
  return std::memcmp(a, b, n * sizeof(double)) == 0;
}

// Everything the client holds for its current frame against the scene's own
// description and frame of that number.
void expectServedExactly(Served& served) {
  sdk::Client& client = served.client();
  const std::uint64_t n = served.frameNumber();
  SCOPED_TRACE("frame " + std::to_string(n));
  const auto description = served.scene().descriptionAt(n);
  protocol::Frame frame;
  served.scene().frameAt(n, frame);

  ASSERT_EQ(client.GetSubjectCount().SubjectCount, description->subjects.size());
  for (unsigned s = 0; s < description->subjects.size(); ++s) {
    const protocol::SubjectInfo& subject = description->subjects[s];
    SCOPED_TRACE("subject '" + subject.name + "'");
    const sdk::Output_GetSubjectName name = client.GetSubjectName(s);
    ASSERT_EQ(name.Result, sdk::Result::Success);
    EXPECT_EQ(std::string(name.SubjectName), subject.name);
    if (subject.name.empty()) continue;  // an empty name cannot be asked for

    ASSERT_EQ(client.GetSegmentCount(subject.name).SegmentCount, subject.segments.size());
    for (unsigned k = 0; k < subject.segments.size(); ++k) {
      const protocol::SegmentInfo& segment = subject.segments[k];
      EXPECT_EQ(std::string(client.GetSegmentName(subject.name, k).SegmentName), segment.name);
      EXPECT_EQ(std::string(client.GetSegmentParentName(subject.name, segment.name).SegmentName),
                segment.parent);
      const auto t = client.GetSegmentLocalTranslation(subject.name, segment.name);
      const auto r = client.GetSegmentLocalRotationQuaternion(subject.name, segment.name);
      ASSERT_EQ(t.Result, sdk::Result::Success) << segment.name;
      const protocol::SegmentSample& pose = segmentOf(frame, s, k);
      EXPECT_TRUE(sameBits(t.Translation, pose.translation, 3)) << segment.name;
      EXPECT_TRUE(sameBits(r.Rotation, pose.rotation, 4)) << segment.name;
      EXPECT_EQ(t.Occluded, pose.occluded) << segment.name;
    }
    ASSERT_EQ(client.GetMarkerCount(subject.name).MarkerCount, subject.markers.size());
    for (unsigned k = 0; k < subject.markers.size(); ++k) {
      EXPECT_EQ(std::string(client.GetMarkerName(subject.name, k).MarkerName), subject.markers[k]);
      const auto m = client.GetMarkerGlobalTranslation(subject.name, subject.markers[k]);
      ASSERT_EQ(m.Result, sdk::Result::Success) << subject.markers[k];
      EXPECT_TRUE(sameBits(m.Translation, markerOf(frame, s, k).position, 3)) << subject.markers[k];
      EXPECT_EQ(m.Occluded, markerOf(frame, s, k).occluded) << subject.markers[k];
    }
  }

  ASSERT_EQ(client.GetUnlabeledMarkerCount().MarkerCount, frame.unlabeled.size());
  for (unsigned k = 0; k < frame.unlabeled.size(); ++k) {
    const auto u = client.GetUnlabeledMarkerGlobalTranslation(k);
    EXPECT_TRUE(sameBits(u.Translation, frame.unlabeled[k].position, 3)) << "unlabelled " << k;
  }

  if (served.scene().providesTimecode()) {
    const auto tc = client.GetTimecode();
    EXPECT_EQ(tc.Hours, frame.timecode.hours);
    EXPECT_EQ(tc.Minutes, frame.timecode.minutes);
    EXPECT_EQ(tc.Seconds, frame.timecode.seconds);
    EXPECT_EQ(tc.Frames, frame.timecode.frames);
    EXPECT_EQ(static_cast<std::uint32_t>(tc.Standard), frame.timecode.standard);
  }
}

std::shared_ptr<Scene> sceneFile(const std::string& file) {
  std::string error;
  std::shared_ptr<Scene> scene = loadSceneFile(std::string(ORBEL_SCENES_DIR) + "/" + file, error);
  EXPECT_TRUE(scene) << error;
  return scene;
}

class ServedSceneFiles : public ::testing::TestWithParam<const char*> {};

TEST_P(ServedSceneFiles, ReadBackExactly) {
  std::shared_ptr<Scene> scene = sceneFile(GetParam());
  ASSERT_TRUE(scene);
  Served served(scene);
  ASSERT_TRUE(served.connect()) << served.log();
  for (int i = 0; i < 3; ++i) {
    expectServedExactly(served);
    ASSERT_TRUE(served.nextFrame());
  }
}

INSTANTIATE_TEST_SUITE_P(Files, ServedSceneFiles,
                         ::testing::Values("alice_bob.json", "colon_names.json",
                                           "empty_subject_name.json", "keyframes_interpolated.json",
                                           "markers.json", "shared_prefix.json",
                                           "timecode_pal.json", "timecode_standard_0.json",
                                           "timecode_standard_5.json", "unknown_parent.json",
                                           "unlabeled.json"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           return name.substr(0, name.find('.'));
                         });

TEST(ServedSceneSwitch, ClientsSeeTheSecondDescriptionAfterTheSignal) {
  std::shared_ptr<Scene> scene = sceneFile("switch_on_sighup.json");
  ASSERT_TRUE(scene);
  Served served(scene);
  ASSERT_TRUE(served.connect()) << served.log();
  EXPECT_EQ(served.client().GetSubjectCount().SubjectCount, 1u);
  scene->requestSwitch();
  ASSERT_TRUE(eventually(
      [&] { return served.nextFrame() && served.client().GetSubjectCount().SubjectCount == 2; }));
  EXPECT_EQ(std::string(served.client().GetSubjectName(1).SubjectName), "Dave");
  expectServedExactly(served);
}

TEST(ServedBvh, ARecordingReadsBackExactlyAndAsTheFilesOwnNumbersInYUp) {
  const std::string path = std::string(ORBEL_MOCAP_DIR) + "/run_short.bvh";
  std::string error;
  std::shared_ptr<Scene> scene = loadBvhScene({path}, error);
  ASSERT_TRUE(scene) << error;
  Served served(scene);
  ASSERT_TRUE(served.connect()) << served.log();
  expectServedExactly(served);

  // With the Y-up mapping, the root's translation is the file's own
  // position channels, and its rotation the file's own channel rotation.
  ASSERT_EQ(served.client()
                .SetAxisMapping(sdk::Direction::PositiveX, sdk::Direction::NegativeZ,
                                sdk::Direction::PositiveY)
                .Result,
            sdk::Result::Success);
  ASSERT_TRUE(served.nextFrame());
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string all = text.str();
  const std::uint64_t n = served.frameNumber();
  std::size_t pos = all.find('\n', all.find("Frame Time:")) + 1;
  for (std::uint64_t i = 0; i < n % 75; ++i) pos = all.find('\n', pos) + 1;
  std::istringstream line(all.substr(pos, all.find('\n', pos) - pos));
  double values[6];
  for (double& v : values) line >> v;

  const auto t = served.client().GetSegmentLocalTranslation("run_short", "Hips");
  EXPECT_EQ(t.Translation[0], values[0]);
  EXPECT_EQ(t.Translation[1], values[1]);
  EXPECT_EQ(t.Translation[2], values[2]);
  const auto r = served.client().GetSegmentLocalRotationQuaternion("run_short", "Hips");
  const int zyx[3] = {2, 1, 0};
  const double degrees[3] = {values[3], values[4], values[5]};
  const Quat expected = eulerToQuat(zyx, degrees);
  double dot = 0;
  for (int i = 0; i < 4; ++i) dot += r.Rotation[i] * expected[static_cast<std::size_t>(i)];
  EXPECT_NEAR(std::abs(dot), 1.0, 1e-12);
}

}  // namespace
}  // namespace orbel::server::playback
