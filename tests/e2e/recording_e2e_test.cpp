// The whole road of a recording, for each of the project's real
// recordings: the capture server plays the BVH file over TCP; the stream
// client, the plug-in's reader and device (loaded with dlopen, as the host
// program loads it) take the frames; the host writes the nodes, records
// keys in the take and exports it as BVH and CSV through the host program's
// commands. The export must give back the source file: offsets, root
// positions and every joint's rotation, sample by sample, within 1e-6 after
// the device's 0.1 scale; and each joint's marker at the joint's world
// position.
//
// Time is driven, not waited for: the host runs no threads and its clock is
// a manual one. Each step advances the clock by 20 ms (more than the
// reader's 11 ms fetch interval, so every step fetches) and runs one input
// pass and then one evaluation pass. Only the server runs in real time; a
// step that finds no new frame re-reads the one the client holds, which the
// matching below handles.
//
// How samples are matched to source frames. The client library reports the
// number n of the newest frame taken in the process (Diagnostics.h), and
// the server serves frame n mod Frames of the file. During an input pass
// the device fetches a frame into its records and keys the values its
// nodes hold, which the evaluation pass before wrote from the frame fetched
// at the step before. So the key of step k carries the frame fetched at
// step k-1: the test notes, after each evaluation pass, the frame number
// whose values the nodes now hold, and the next recorded sample is compared
// with that frame. The export writes one frame per sample in time order,
// so exported frame i is the i-th recorded sample.
//
// Axes: the device asks for Y-up data; the server turned the file's Y-up
// vectors into its Z-up frame and the client's Y-up mapping turns them
// back, so the exported numbers are the file's own, times 0.1 for lengths.
// Rotations are compared as rotation matrices (the angle between exported
// and source), never as Euler triples, which may differ by 360 degrees or
// at gimbal lock while meaning the same rotation.
#include <OrbelDataStreamSDK/Diagnostics.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include <fbhost/fbhost.h>

#include "../support/temporary_folder.h"
#include "bvh_reference.h"
#include "capture_server.h"
#include "playback/loaders.h"
#include "shell.h"

namespace orbel::testing {
namespace {

constexpr double kScale = 0.1;
constexpr double kTolerance = 1e-6;
constexpr int kWarmUpSteps = 4;
constexpr int kRecordedSteps = 48;

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class TempFolder {
 public:
  TempFolder() : mPath(MakeTemporaryFolder("orbel-e2e")) {}
  ~TempFolder() {
    std::error_code ignored;
    if (!mPath.empty()) std::filesystem::remove_all(mPath, ignored);
  }
  const std::string& path() const { return mPath; }

 private:
  std::string mPath;
};

std::uint64_t NewestFrame() {
  return OrbelDataStreamSDK::Diagnostics::NewestFrameTaken().FrameNumber;
}

std::int64_t Acknowledged() {
  std::int64_t total = 0;
  for (FBDevice* device : fbhost::Devices()) {
    total += fbhost::GetDeviceStatistics(device).samplesAcknowledged;
  }
  return total;
}

class RecordingEndToEnd : public ::testing::TestWithParam<const char*> {
 protected:
  static void SetUpTestSuite() {
    fbhost::SetProgressEcho(false);
    fbhost::SetFlushToDisk(false);
    const auto loaded = fbhost::LoadPlugin(ORBEL_PLUGIN_PATH);
    ASSERT_EQ(loaded.status, fbhost::PluginLoadStatus::Loaded) << loaded.message;
  }

  void SetUp() override {
    ASSERT_FALSE(mFolder.path().empty());
    fbhost::SetConfigFolder(mFolder.path() + "/config");
    mSourcePath = std::string(ORBEL_MOCAP_DIR) + "/" + GetParam() + ".bvh";
    std::string error;
    ASSERT_TRUE(ParseReferenceBvh(ReadWhole(mSourcePath), &mSource, &error)) << error;

    std::shared_ptr<server::Scene> scene = server::loadBvhScene({mSourcePath}, error);
    ASSERT_TRUE(scene) << error;
    server::ServerConfig config;
    config.port = 0;
    config.log = [](const std::string&) {};
    mServer = std::make_unique<server::CaptureServer>(scene, config);
    ASSERT_TRUE(mServer->start(error)) << error;

    hostapp::ShellOptions options;
    options.stepMode = true;
    options.statusLine = false;
    options.variables["PORT"] = std::to_string(mServer->port());
    mShell = std::make_unique<hostapp::Shell>(options, stdout, stderr);
  }

  void TearDown() override {
    mShell.reset();
    if (mServer) mServer->stop();
    fbhost::SetConfigFolder("");
  }

  void Run(const std::string& command) {
    ASSERT_TRUE(mShell->Run(command)) << command << ": " << mShell->LastError();
  }

  // One step (see the file comment). Answers whether the device took a
  // sample; *written is the frame whose values the nodes hold afterwards.
  bool Step(std::uint64_t* written) {
    // Real time for the server to send a frame; a slower machine only
    // skips frames, which the matching does not mind.
    std::this_thread::sleep_for(std::chrono::milliseconds(9));
    mShell->Clock()->AdvanceMilliSeconds(20);
    const std::int64_t before = Acknowledged();
    fbhost::StepInput();
    const bool sampled = Acknowledged() == before + 1;
    fbhost::StepEvaluation();
    *written = NewestFrame();
    return sampled;
  }

  TempFolder mFolder;
  std::string mSourcePath;
  ReferenceBvh mSource;
  std::unique_ptr<server::CaptureServer> mServer;
  std::unique_ptr<hostapp::Shell> mShell;
};

TEST_P(RecordingEndToEnd, ExportGivesBackTheSourceSampleBySample) {
  const std::string subject = GetParam();
  Run("add \"Orbel Stream Device\" orbel");
  Run("panel orbel set-address 127.0.0.1");
  Run("panel orbel set-port ${PORT}");
  Run("panel orbel axis Y-Up");
  Run("panel orbel bones on");
  Run("panel orbel markers on");
  Run("online orbel on");
  Run("bind orbel new");
  Run("arm orbel on");

  std::uint64_t nodesHold = 0;
  int warm = 0;
  for (int i = 0; i < 50 && warm < kWarmUpSteps; ++i) warm += Step(&nodesHold) ? 1 : 0;
  ASSERT_EQ(warm, kWarmUpSteps) << "the device took no samples";

  Run("record");
  std::vector<std::uint64_t> expected;  // the client frame number of each recorded sample
  for (int i = 0; i < kRecordedSteps; ++i) {
    const std::uint64_t heldBefore = nodesHold;
    if (Step(&nodesHold)) expected.push_back(heldBefore);
  }
  Run("stop");
  ASSERT_EQ(static_cast<int>(expected.size()), kRecordedSteps)
      << "every step after the warm-up takes exactly one sample";

  const std::string bvhPath = mFolder.path() + "/out/" + subject + ".bvh";
  const std::string csvPath = mFolder.path() + "/out/" + subject + ".csv";
  Run("export-bvh " + bvhPath);
  Run("export-csv " + csvPath);

  ReferenceBvh exported;
  std::string error;
  ASSERT_TRUE(ParseReferenceBvh(ReadWhole(bvhPath), &exported, &error)) << error;

  // The skeleton: the same joints with the same parents. The device makes
  // a segment's models in the order of its keys, so siblings may come in
  // another order than in the file: joints are matched by name.
  ASSERT_EQ(exported.joints.size(), mSource.joints.size());
  std::vector<int> sourceOf(exported.joints.size(), -1);  // exported joint -> source joint
  for (std::size_t j = 0; j < exported.joints.size(); ++j) {
    const ReferenceJoint& joint = exported.joints[j];
    SCOPED_TRACE("joint " + joint.name);
    const int s = mSource.JointIndex(joint.name);
    ASSERT_GE(s, 0);
    sourceOf[j] = s;
    const int sourceParent = mSource.joints[s].parent;
    ASSERT_EQ(joint.parent < 0, sourceParent < 0);
    if (sourceParent < 0) continue;
    EXPECT_EQ(exported.joints[joint.parent].name, mSource.joints[sourceParent].name);
    // Non-root joints keep their length in OFFSET, and move by rotation only.
    EXPECT_EQ(joint.channels.size(), 3u);
    EXPECT_LE((joint.offset - kScale * mSource.joints[s].offset).norm(), kTolerance);
  }

  // One frame per sample, each matched to the source frame it came from.
  ASSERT_EQ(exported.frames.size(), expected.size());
  const auto sourceFrames = static_cast<std::uint64_t>(mSource.frames.size());
  std::set<std::uint64_t> distinct;
  double worstAngle = 0.0, worstTranslation = 0.0;
  for (std::size_t f = 0; f < expected.size(); ++f) {
    const int source = static_cast<int>(expected[f] % sourceFrames);
    distinct.insert(expected[f]);
    for (std::size_t j = 0; j < exported.joints.size(); ++j) {
      const int joint = static_cast<int>(j);
      const int s = sourceOf[j];
      const double angle = RotationAngleBetween(exported.LocalRotation(joint, static_cast<int>(f)),
                                                mSource.LocalRotation(s, source));
      const double distance = (exported.LocalTranslation(joint, static_cast<int>(f)) -
                               kScale * mSource.LocalTranslation(s, source))
                                  .norm();
      worstAngle = std::max(worstAngle, angle);
      worstTranslation = std::max(worstTranslation, distance);
      ASSERT_LE(angle, kTolerance)
          << "sample " << f << " (server frame " << expected[f] << ", file frame " << source
          << "), joint " << exported.joints[j].name;
      ASSERT_LE(distance, kTolerance) << "sample " << f << ", joint " << exported.joints[j].name;
    }
  }
  // The comparison covered motion, not one pose again and again (a busy
  // machine may repeat a frame now and then; that is matched all the same).
  EXPECT_GE(distinct.size(), 8u);
  char worst[64];
  std::snprintf(worst, sizeof worst, "%.3g rad, %.3g", worstAngle, worstTranslation);
  RecordProperty("worst_rotation_and_translation_error", worst);

  // Markers: the server puts one on every joint's world position.
  std::ifstream csv(csvPath);
  std::string header;
  ASSERT_TRUE(std::getline(csv, header));
  std::vector<std::string> columns;
  std::stringstream headerWords(header);
  for (std::string column; std::getline(headerWords, column, ',');) columns.push_back(column);
  ASSERT_EQ(columns.size(), 1 + 3 * mSource.joints.size());
  std::string row;
  for (std::size_t f = 0; f < expected.size(); ++f) {
    ASSERT_TRUE(std::getline(csv, row)) << "row " << f;
    std::vector<double> cells;
    std::stringstream rowWords(row);
    for (std::string cell; std::getline(rowWords, cell, ',');) cells.push_back(std::stod(cell));
    ASSERT_EQ(cells.size(), columns.size());
    const int source = static_cast<int>(expected[f] % sourceFrames);
    for (std::size_t m = 0; m + 1 < columns.size(); m += 3) {
      // "<subject>:<subject>_<Joint>_M x"
      const std::string label = columns[1 + m].substr(0, columns[1 + m].size() - 2);
      const std::string prefix = subject + ":" + subject + "_";
      ASSERT_EQ(label.compare(0, prefix.size(), prefix), 0) << label;
      const std::string jointName = label.substr(prefix.size(), label.size() - prefix.size() - 2);
      const int joint = mSource.JointIndex(jointName);
      ASSERT_GE(joint, 0) << label;
      const Eigen::Vector3d position(cells[1 + m], cells[2 + m], cells[3 + m]);
      ASSERT_LE((position - kScale * mSource.WorldPosition(joint, source)).norm(), kTolerance)
          << "sample " << f << ", marker " << label;
    }
  }

  // The export is a BVH the project's own server plays again.
  ASSERT_TRUE(server::loadBvhScene({bvhPath}, error)) << error;
}

INSTANTIATE_TEST_SUITE_P(Recordings, RecordingEndToEnd,
                         ::testing::Values("walk", "hop", "run_short"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

}  // namespace
}  // namespace orbel::testing
