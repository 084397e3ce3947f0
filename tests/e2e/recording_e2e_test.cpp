// The whole road of a recording, for each of the project's real
// recordings: the capture server plays the BVH file over TCP; the stream
// client, the plug-in's reader and device (loaded with dlopen, as the host
// program loads it) take the frames; the host writes the nodes, records
// keys in the take and exports it as BVH, CSV and glTF through the host
// program's commands. The export must give back the source file: offsets,
// root positions and every joint's rotation, sample by sample, within 1e-6
// after the device's 0.1 scale; and each joint's marker at the joint's world
// position. The glTF file, read by assimp, must put every node at every key
// where the BVH and CSV exports put it, within 1e-6 m.
//
// Time is driven, not waited for: the host runs no threads and its clock is
// a manual one. Each step advances the clock by 20 ms (more than the
// reader's 11 ms fetch interval) and runs one input pass and then one
// evaluation pass. Only the server runs in real time; a step that finds no
// new frame takes no sample.
//
// How samples are matched to source frames. The client library reports the
// number n of the newest frame taken in the process (Diagnostics.h), and
// the server serves frame n mod Frames of the file. A sample holds the
// values of the frame its input pass took, so the test notes that number
// after each input pass that took a sample. The export writes one frame per
// sample in time order, so exported frame i is the i-th recorded sample,
// from the very first: the recording starts straight after the bind.
//
// Axes: the device asks for Y-up data; the server turned the file's Y-up
// vectors into its Z-up frame and the client's Y-up mapping turns them
// back, so the exported numbers are the file's own, times 0.1 for lengths,
// bit for bit. Rotations are compared as rotation matrices, never as Euler
// triples, which may differ by 360 degrees or at gimbal lock while meaning
// the same rotation.
#include <OrbelDataStreamSDK/Diagnostics.h>
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <assimp/scene.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <assimp/Importer.hpp>
#endif
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <thread>
#include <utility>

#include <fbhost/fbhost.h>

#include "../host/test_folder.h"
#include "bvh_reference.h"
#include "capture_server.h"
#include "gltf_export.h"
#include "playback/loaders.h"
#include "running_server.h"
#include "shell.h"

namespace orbel::testing {
namespace {

constexpr double kScale = 0.1;
constexpr double kRotationTolerance = 1e-12;
// glTF positions, in metres, against the BVH export's.
constexpr double kMetreTolerance = 1e-6;
constexpr int kRecordedSamples = 48;

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

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

using Curves = std::map<std::string, std::vector<FBTakeKey>>;

// A capture server in this process and the host program's shell in step
// mode, with the plug-in loaded as the host program loads it.
class ShellSession : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    fbhost::SetProgressEcho(false);
    fbhost::SetFlushToDisk(false);
    const auto loaded = fbhost::LoadPlugin(ORBEL_PLUGIN_PATH);
    ASSERT_EQ(loaded.status, fbhost::PluginLoadStatus::Loaded) << loaded.message;
  }

  void TearDown() override {
    mShell.reset();
    if (mServer) mServer->stop();
    fbhost::SetConfigFolder("");
    for (std::FILE* stream : {mOut, mErr}) {
      if (stream != nullptr) std::fclose(stream);
    }
  }

  // Serves the scene and opens a shell with ${PORT} and ${DIR} set.
  void Serve(std::shared_ptr<server::Scene> scene) {
    ASSERT_TRUE(scene);
    ASSERT_FALSE(mFolder.path().empty());
    fbhost::SetConfigFolder(mFolder.path() + "/config");
    mServer = std::make_unique<orbel::testing::RunningServer>(scene);
    ASSERT_TRUE(mServer->started());
    hostapp::ShellOptions options;
    options.stepMode = true;
    options.statusLine = false;
    options.variables["PORT"] = std::to_string(mServer->port());
    options.variables["DIR"] = mFolder.path();
    mShell = std::make_unique<hostapp::Shell>(options, mOut, mErr);
  }
  void ServeFile(const std::string& name) {
    std::string error;
    std::shared_ptr<server::Scene> scene =
        server::loadSceneFile(ORBEL_SCENES_DIR "/" + name, error);
    ASSERT_TRUE(scene) << error;
    Serve(scene);
  }

  void Run(const std::string& command) {
    ASSERT_TRUE(mShell->Run(command)) << command << ": " << mShell->LastError();
  }
  // A device "orbel" streaming bones and labelled markers, bound, armed.
  void StreamBoundArmed(const std::string& extra = "") {
    for (const char* command :
         {"add \"Orbel Stream Device\" orbel", "panel orbel set-address 127.0.0.1",
          "panel orbel set-port ${PORT}", "panel orbel axis Y-Up", "panel orbel bones on",
          "panel orbel markers on"}) {
      Run(command);
    }
    if (!extra.empty()) Run(extra);
    Run("online orbel on");
    Run("bind orbel new");
    Run("arm orbel on");
  }

  // One step (see the file comment); sleepMs of real time first, for the
  // server to send a frame. Answers whether the device took a sample;
  // *frame is the number of the frame it took.
  bool Step(std::uint64_t* frame = nullptr, int sleepMs = 9) {
    std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs));
    mShell->Clock()->AdvanceMilliSeconds(20);
    const std::int64_t before = Acknowledged();
    fbhost::StepInput();
    const bool sampled = Acknowledged() == before + 1;
    if (frame != nullptr) *frame = NewestFrame();
    fbhost::StepEvaluation();
    return sampled;
  }
  // Steps until `samples` more samples came in (or a generous limit).
  int Samples(int samples) {
    int taken = 0;
    for (int i = 0; i < 50 * samples && taken < samples; ++i) taken += Step() ? 1 : 0;
    return taken;
  }

  // Every curve of every take, by take, node and layer, with its keys.
  static Curves AllCurves() {
    Curves curves;
    for (FBTake* take : fbhost::Takes()) {
      for (const FBTakeCurve& c : take->GetCurves()) {
        curves[take->GetLabelName().str() + "|" + c.nodeName + "|" + std::to_string(c.layer)] =
            take->GetKeys(c.nodeSerial, c.layer);
      }
    }
    return curves;
  }
  static std::vector<FBTakeKey> Keys(const std::string& model, const char* type) {
    FBTake* take = fbhost::CurrentTake();
    return take->GetKeys(take->RecordNode(model, type), 0);
  }
  std::string Text(std::FILE* stream) {
    std::fflush(stream);
    std::rewind(stream);
    std::string text;
    for (int c = std::fgetc(stream); c != EOF; c = std::fgetc(stream)) text += static_cast<char>(c);
    return text;
  }

  TestFolder mFolder;
  std::FILE* mOut = std::tmpfile();
  std::FILE* mErr = std::tmpfile();
  std::unique_ptr<orbel::testing::RunningServer> mServer;
  std::unique_ptr<hostapp::Shell> mShell;
};

class RecordingEndToEnd : public ShellSession, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    mSourcePath = std::string(ORBEL_MOCAP_DIR) + "/" + GetParam() + ".bvh";
    std::string error;
    ASSERT_TRUE(ParseReferenceBvh(ReadWhole(mSourcePath), &mSource, &error)) << error;
    std::shared_ptr<server::Scene> scene = server::loadBvhScene({mSourcePath}, error);
    ASSERT_TRUE(scene) << error;
    Serve(scene);
  }

  std::string mSourcePath;
  ReferenceBvh mSource;
};

TEST_P(RecordingEndToEnd, ExportGivesBackTheSourceSampleBySample) {
  const std::string subject = GetParam();
  StreamBoundArmed();
  // Straight after the bind: the first sample must already be a real frame.
  Run("record");
  std::vector<std::uint64_t> expected;  // the client frame number of each recorded sample
  for (int i = 0; i < 50 * kRecordedSamples && expected.size() < kRecordedSamples; ++i) {
    std::uint64_t frame = 0;
    if (Step(&frame)) expected.push_back(frame);
  }
  Run("stop");
  ASSERT_EQ(static_cast<int>(expected.size()), kRecordedSamples)
      << "the device took too few samples";

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
    EXPECT_EQ(joint.offset, kScale * mSource.joints[s].offset);
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
      const double angle =
          (exported.LocalRotation(joint, static_cast<int>(f)) - mSource.LocalRotation(s, source))
              .cwiseAbs()
              .maxCoeff();
      const Eigen::Vector3d translation = exported.LocalTranslation(joint, static_cast<int>(f));
      const Eigen::Vector3d wanted = kScale * mSource.LocalTranslation(s, source);
      worstAngle = std::max(worstAngle, angle);
      worstTranslation = std::max(worstTranslation, (translation - wanted).norm());
      ASSERT_LE(angle, kRotationTolerance)
          << "sample " << f << " (server frame " << expected[f] << ", file frame " << source
          << "), joint " << exported.joints[j].name;
      ASSERT_EQ(translation, wanted) << "sample " << f << ", joint " << exported.joints[j].name;
    }
  }
  // One sample per frame taken in: never one pose keyed twice.
  EXPECT_EQ(distinct.size(), expected.size());
  char worst[64];
  std::snprintf(worst, sizeof worst, "%.3g, %.3g", worstAngle, worstTranslation);
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
  std::vector<std::vector<double>> rows;
  for (std::size_t f = 0; f < expected.size(); ++f) {
    ASSERT_TRUE(std::getline(csv, row)) << "row " << f;
    std::vector<double> cells;
    std::stringstream rowWords(row);
    for (std::string cell; std::getline(rowWords, cell, ',');) cells.push_back(std::stod(cell));
    ASSERT_EQ(cells.size(), columns.size());
    rows.push_back(cells);
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
      ASSERT_LE((position - kScale * mSource.WorldPosition(joint, source)).norm(), 1e-9)
          << "sample " << f << ", marker " << label;
    }
  }

  // The export is a BVH the project's own server plays again.
  ASSERT_TRUE(server::loadBvhScene({bvhPath}, error)) << error;

#if !defined(_WIN32)  // no glTF writer nor assimp in the Windows build
  // glTF: read by assimp, composed up the hierarchy with Eigen.
  const std::string glbPath = mFolder.path() + "/out/" + subject + ".glb";
  Run("export-gltf " + glbPath);
  const std::string glb = ReadWhole(glbPath);
  ASSERT_GT(glb.size(), 20u);
  std::uint32_t jsonLength = 0;
  std::memcpy(&jsonLength, glb.data() + 12, 4);
  const auto asset = nlohmann::json::parse(glb.substr(20, jsonLength))["asset"];
  EXPECT_EQ(asset["extras"]["metresPerHostUnit"], hostapp::kMetresPerHostUnit);
  Assimp::Importer importer;
  const aiScene* gltf = importer.ReadFile(glbPath, 0);
  ASSERT_NE(gltf, nullptr) << importer.GetErrorString();
  ASSERT_EQ(gltf->mNumAnimations, 1u);
  const aiAnimation& animation = *gltf->mAnimations[0];
  const double ticksPerSecond = animation.mTicksPerSecond > 0 ? animation.mTicksPerSecond : 1.0;
  std::map<std::string, const aiNodeAnim*> channels;
  for (unsigned c = 0; c < animation.mNumChannels; ++c) {
    channels[animation.mChannels[c]->mNodeName.C_Str()] = animation.mChannels[c];
  }
  // A node's world position at key k: its own keys where it has them, its
  // rest pose otherwise, composed up to the scene's root.
  auto worldAt = [&](const aiNode* node, unsigned k) {
    Eigen::Isometry3d world = Eigen::Isometry3d::Identity();
    for (; node != nullptr; node = node->mParent) {
      aiVector3D scale, position;
      aiQuaternion rotation;
      node->mTransformation.Decompose(scale, rotation, position);
      const auto found = channels.find(node->mName.C_Str());
      if (found != channels.end() && found->second->mNumPositionKeys > k) {
        position = found->second->mPositionKeys[k].mValue;
      }
      if (found != channels.end() && found->second->mNumRotationKeys > k) {
        rotation = found->second->mRotationKeys[k].mValue;
      }
      Eigen::Isometry3d local = Eigen::Isometry3d::Identity();
      local.translate(Eigen::Vector3d(position.x, position.y, position.z));
      local.rotate(Eigen::Quaterniond(rotation.w, rotation.x, rotation.y, rotation.z));
      world = local * world;
    }
    return Eigen::Vector3d(world.translation());
  };
  auto expectNode = [&](const std::string& name, const std::function<Eigen::Vector3d(int)>& at) {
    const aiNode* node = gltf->mRootNode->FindNode(name.c_str());
    ASSERT_NE(node, nullptr) << name;
    ASSERT_EQ(channels.count(name), 1u) << name;
    const aiNodeAnim& channel = *channels[name];
    ASSERT_EQ(channel.mNumPositionKeys, expected.size()) << name;
    for (unsigned k = 0; k < expected.size(); ++k) {
      ASSERT_NEAR(channel.mPositionKeys[k].mTime / ticksPerSecond, rows[k][0] - rows[0][0], 1e-5);
      ASSERT_LE((worldAt(node, k) - hostapp::kMetresPerHostUnit * at(static_cast<int>(k))).norm(),
                kMetreTolerance)
          << "key " << k << ", node " << name;
    }
  };
  for (std::size_t j = 0; j < exported.joints.size(); ++j) {
    expectNode(exported.joints[j].name,
               [&](int f) { return exported.WorldPosition(static_cast<int>(j), f); });
  }
  for (std::size_t m = 0; m + 1 < columns.size(); m += 3) {
    const std::string label = columns[1 + m].substr(0, columns[1 + m].size() - 2);
    expectNode(label.substr(subject.size() * 2 + 2), [&](int f) {  // "walk:walk_Hips_M" -> "Hips_M"
      return Eigen::Vector3d(rows[f][1 + m], rows[f][2 + m], rows[f][3 + m]);
    });
  }
  EXPECT_EQ(animation.mNumChannels, exported.joints.size() + (columns.size() - 1) / 3);
#endif
}

INSTANTIATE_TEST_SUITE_P(Recordings, RecordingEndToEnd,
                         ::testing::Values("walk", "hop", "run_short"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

// Every take's keys hold finite values; a file's words are no NaN or infinity.
void ExpectFinite(const Curves& curves) {
  for (const auto& [name, keys] : curves) {
    for (const FBTakeKey& key : keys) {
      ASSERT_TRUE(std::isfinite(key.value[0]) && std::isfinite(key.value[1]) &&
                  std::isfinite(key.value[2]))
          << name;
    }
  }
}
void ExpectNoNonFiniteWord(const std::string& path) {
  std::string text = ReadWhole(path);
  std::replace(text.begin(), text.end(), ',', ' ');
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    for (const char* bad : {"nan", "-nan", "inf", "-inf", "null"}) ASSERT_NE(word, bad) << path;
  }
}

// A server that sends values that are not numbers: Bob's hips in two of
// three frames (a translation, then a rotation), his marker in one.
class NonFiniteScene : public server::Scene {
 public:
  double framesPerSecond() const override { return 120.0; }
  std::shared_ptr<const protocol::Description> descriptionAt(std::uint64_t) const override {
    return mDescription;
  }
  void frameAt(std::uint64_t n, protocol::Frame& out) const override {
    const double bad = n % 2 == 0 ? std::nan("") : HUGE_VAL;
    const double v = static_cast<double>(n % 1000);
    out.number = n;
    out.segmentCounts.assign(1, 1);
    out.segments.assign(1, {});
    out.markerCounts.assign(1, 1);
    out.markers.assign(1, {});
    out.unlabeled.clear();
    protocol::SegmentSample& hips = out.segments[0];
    hips.translation[0] = n % 3 == 0 ? bad : v;
    hips.rotation[3] = n % 3 == 1 ? bad : 1.0;
    out.markers[0].position[1] = n % 3 == 0 ? -bad : v;
  }

 private:
  std::shared_ptr<const protocol::Description> mDescription =
      std::make_shared<const protocol::Description>(
          protocol::Description{0, {{"Bob", {{"Hips", ""}}, {"LFHD"}}}});
};

TEST_F(ShellSession, NonFiniteValuesNeverReachANodeAKeyASaveOrAnExport) {
  Serve(std::make_shared<NonFiniteScene>());
  StreamBoundArmed();
  Run("record");
  ASSERT_EQ(Samples(30), 30);
  Run("stop");
  // Occluded for that sample: no key, so fewer keys than samples.
  const auto hips = Keys("Bob:Bob_Hips", kFBDataTypeTranslation);
  const auto marker = Keys("Bob:Bob_LFHD", kFBDataTypeTranslation);
  EXPECT_GT(hips.size(), 0u);
  EXPECT_GT(marker.size(), hips.size());
  EXPECT_LT(marker.size(), 30u);
  ExpectFinite(AllCurves());
  FBModel* model = FBFindModelByLabelName("Bob:Bob_Hips");
  ASSERT_NE(model, nullptr);
  EXPECT_TRUE(std::isfinite(model->Translation.Get()[0]) &&
              std::isfinite(model->Rotation.Get()[0]));
  EXPECT_GT(mShell->Stats().Figures().nonFiniteAnswers, 0u);
  EXPECT_NE(Text(mOut).find("treated as occluded"), std::string::npos);
  Run("save ${DIR}/nan.orbs");
  Run("export-csv ${DIR}/nan.csv");
  Run("dump take --keys --out ${DIR}/take.json");
  for (const char* file : {"/nan.orbs", "/nan.csv", "/take.json"}) {
    ExpectNoNonFiniteWord(mFolder.path() + file);
  }
}

TEST_F(ShellSession, ASubjectThatLeavesStandsStillAndGetsNoKeys) {
  ServeFile("subject_leaves.json");
  StreamBoundArmed();
  ASSERT_NE(Text(mOut).find("subjects 'Alice', 'Bob'"), std::string::npos) << "Alice left early";
  Run("record");
  for (int i = 0; i < 2000 && NewestFrame() < 160; ++i) Step();
  Run("stop");
  for (const char* name : {"Alice:Alice_Hips", "Alice:Alice_LFHD"}) {
    SCOPED_TRACE(name);
    const auto alice = Keys(name, kFBDataTypeTranslation);
    const auto bob = Keys(std::string(name).replace(0, 11, "Bob:Bob"), kFBDataTypeTranslation);
    ASSERT_FALSE(alice.empty());
    EXPECT_GT(bob.size(), alice.size() + 10) << "Alice was keyed after she left";
    FBModel* model = FBFindModelByLabelName(name);
    ASSERT_NE(model, nullptr);
    for (const FBTakeKey& key : alice) {
      EXPECT_EQ(std::memcmp(key.value, alice.front().value, sizeof key.value), 0);
    }
    EXPECT_NE(alice.front().value[2], 0.0);
    // Her node kept her last pose, and so her model.
    EXPECT_EQ(model->Translation.Get(), FBVector3<double>(alice.front().value));
  }
}

TEST_F(ShellSession, ASpanAcrossMidnightRunsForwardFromTheFirstTimecode) {
  ServeFile("timecode_midnight.json");
  StreamBoundArmed("panel orbel timecode on");
  Run("record");  // before the device has taken in any timecode
  for (int i = 0; i < 2000 && NewestFrame() < 60; ++i) Step();
  Run("stop");
  const FBTimeSpan span = fbhost::CurrentTake()->LocalTimeSpan.Get();
  const double day = 86400.0;
  EXPECT_GE(span.GetStart().GetSecondDouble(), day - 2.0);
  EXPECT_LT(span.GetStart().GetSecondDouble(), day);
  EXPECT_GT(span.GetStop().GetSecondDouble(), day);
  EXPECT_LT((span.GetStop() - span.GetStart()).GetSecondDouble(), 10.0);
  const auto keys = Keys("Bob:Bob_Hips", kFBDataTypeTranslation);
  ASSERT_FALSE(keys.empty());
  EXPECT_EQ(keys.front().time, span.GetStart());
}

TEST_F(ShellSession, AStalledOrVanishedServerAddsNoKeys) {
  std::string error;
  Serve(server::loadBvhScene({ORBEL_MOCAP_DIR "/walk.bvh"}, error));
  StreamBoundArmed();
  Run("record");
  const std::int64_t acks = Acknowledged();
  // Most steps come sooner than the server's next frame.
  for (int i = 0; i < 60; ++i) Step(nullptr, i % 4 == 0 ? 9 : 0);
  const auto keys = Keys("walk:walk_Hips", kFBDataTypeTranslation);
  EXPECT_EQ(static_cast<std::int64_t>(keys.size()), Acknowledged() - acks);
  EXPECT_LT(keys.size(), 60u);
  for (std::size_t k = 1; k < keys.size(); ++k) {
    EXPECT_NE(std::memcmp(keys[k].value, keys[k - 1].value, sizeof keys[k].value), 0) << k;
  }
  mServer->stop();
  for (int i = 0; i < 20; ++i) Step();
  EXPECT_EQ(Keys("walk:walk_Hips", kFBDataTypeTranslation).size(), keys.size());
  Run("stop");
}

TEST_F(ShellSession, TakesSurviveTheirDeviceAndASaveAndLoadAndBindAgain) {
  std::string error;
  Serve(server::loadBvhScene({ORBEL_MOCAP_DIR "/walk.bvh"}, error));
  StreamBoundArmed();
  for (const char* take : {"", "second"}) {
    if (*take != '\0') Run(std::string("take new ") + take);
    Run("record");
    ASSERT_EQ(Samples(10), 10);
    Run("stop");
  }
  const Curves recorded = AllCurves();
  EXPECT_FALSE(mShell->Run("load ${DIR}/elsewhere.orbs"));
  EXPECT_NE(mShell->LastError().find("--discard"), std::string::npos) << mShell->LastError();
  Run("save ${DIR}/two.orbs");
  Run("remove orbel");
  Run("export-bvh ${DIR}/second.bvh second");
  Run("export-csv ${DIR}/first.csv \"Take 001\"");

  Run("load ${DIR}/two.orbs");
  const Curves loaded = AllCurves();
  ASSERT_EQ(loaded.size(), recorded.size());
  for (const auto& [name, keys] : recorded) {
    const auto& back = loaded.at(name);
    ASSERT_EQ(back.size(), keys.size()) << name;
    for (std::size_t k = 0; k < keys.size(); ++k) {
      EXPECT_TRUE(back[k].time == keys[k].time &&
                  std::memcmp(back[k].value, keys[k].value, sizeof keys[k].value) == 0 &&
                  back[k].interpolation == keys[k].interpolation &&
                  back[k].tangentMode == keys[k].tangentMode)
          << name << " key " << k;
    }
  }

  // A bind after the load reuses the loaded characters, and they move.
  const std::size_t models = fbhost::SceneModels().size();
  for (const char* bind : {"bind orbel", "bind orbel Orbel"}) {
    Run("online orbel on");
    Run(bind);
    EXPECT_EQ(fbhost::SceneModels().size(), models) << bind;
  }
  int roots = 0;
  for (FBModel* model : fbhost::SceneModels()) {
    EXPECT_EQ(model->GetLabelName().str().find(" 1:"), std::string::npos);
    roots += model->Is(FBModelRoot::TypeInfo) ? 1 : 0;
  }
  EXPECT_EQ(roots, 1);
  FBModel* hips = FBFindModelByLabelName("walk:walk_Hips");
  ASSERT_NE(hips, nullptr);
  const FBVector3<double> before = hips->Translation.Get();
  ASSERT_EQ(Samples(3), 3);
  EXPECT_NE(hips->Translation.Get(), before);
}

TEST_F(ShellSession, QuietCasesAreSaid) {
  ServeFile("empty_subject_name.json");
  StreamBoundArmed("panel orbel unlabeled on");
  EXPECT_NE(Text(mErr).find("left out: 'B'"), std::string::npos) << Text(mErr);
  for (int samples : {5, 3}) {
    Run("record");
    ASSERT_EQ(Samples(samples), samples);
    Run("stop");
  }
  EXPECT_NE(Text(mOut).find("3 samples keyed"), std::string::npos)
      << "counts the take, not this recording";
  EXPECT_NE(Text(mErr).find("never keyed"), std::string::npos);

  Run("panel orbel bones off");
  Run("panel orbel markers off");
  Run("save ${DIR}/quiet.orbs");
  Run("load ${DIR}/quiet.orbs");
  Run("online orbel on");
  Run("bind orbel");
  Run("arm orbel on");
  Run("record");
  Samples(3);
  Run("stop");
  EXPECT_NE(Text(mErr).find("streams neither bones nor labelled markers"), std::string::npos)
      << Text(mErr);
}

#if !defined(_WIN32)  // fork and POSIX signals
// orbel-host as a child process, its commands written to its standard
// input and its output read from a file, so that it can be sent signals.
class HostProcess {
 public:
  // output: a file of its own, so that no earlier output can be mistaken
  // for this process's.
  HostProcess(std::string output, const std::vector<std::string>& arguments)
      : mOutput(std::move(output)) {
    int in[2];
    if (pipe(in) != 0) return;
    // Built before the fork: the child of a threaded process must not allocate.
    std::vector<char*> argv{const_cast<char*>(ORBEL_HOST_PATH)};
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    mPid = fork();
    if (mPid == 0) {
      dup2(in[0], 0);
      const int out = open(mOutput.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      dup2(out, 2);
      execv(ORBEL_HOST_PATH, argv.data());
      _exit(127);
    }
    close(in[0]);
    mInput = in[1];
  }
  ~HostProcess() {
    if (mInput >= 0) close(mInput);
    if (mPid > 0 && !mReaped) {
      kill(mPid, SIGKILL);
      Wait();
    }
  }
  void Write(const std::string& text) {
    ASSERT_EQ(write(mInput, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  bool WaitFor(const std::string& text) {
    for (int i = 0; i < 2000; ++i) {
      if (Output().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  std::string Output() const { return ReadWhole(mOutput); }
  void Signal(int number) { kill(mPid, number); }
  // The exit status, or 128 + the signal that ended it.
  int Wait() {
    int status = 0;
    waitpid(mPid, &status, 0);
    mReaped = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  std::string mOutput;
  pid_t mPid = -1;
  int mInput = -1;
  bool mReaped = false;
};

// Ctrl-C stops a recording or a wait and keeps the take; SIGTERM ends the
// program cleanly; Ctrl-C at the idle prompt quits as it always did.
TEST_F(ShellSession, SignalsStopTheCommandAndKeepTheTake) {
  std::string error;
  Serve(server::loadBvhScene({ORBEL_MOCAP_DIR "/walk.bvh"}, error));
  const std::string setUp =
      "add \"Orbel Stream Device\" orbel\npanel orbel set-address 127.0.0.1\npanel orbel "
      "set-port " +
      std::to_string(mServer->port()) +
      "\npanel orbel bones on\nonline orbel on\nbind orbel\n"
      "arm orbel on\n";
  const std::vector<std::string> options = {"--plugins",    ORBEL_PLUGIN_DIR,
                                            "--config-dir", mFolder.path() + "/host-config",
                                            "--no-status",  "--quiet"};
  struct Row {
    const char* name;
    const char* command;  // what runs when the signal comes
    const char* running;  // the output that shows it runs
    int signal;
    int status;  // 0: the program goes on, and quits when told
  };
  const Row rows[] = {
      {"ctrl_c_in_record", "record 60", "recording 'orbel'", SIGINT, 0},
      {"ctrl_c_in_wait_while_recording", "record\nwait 60", "recording 'orbel'", SIGINT, 0},
      {"ctrl_c_at_the_prompt_while_recording", "record\necho waiting", "waiting", SIGINT, 0},
      {"sigterm_in_wait", "wait 60", "armed", SIGTERM, 143},
      {"ctrl_c_at_the_idle_prompt", "echo waiting", "waiting", SIGINT, 128 + SIGINT},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    HostProcess host(mFolder.path() + "/" + row.name + ".out", options);
    host.Write(setUp + row.command + "\n");
    ASSERT_TRUE(host.WaitFor(row.running)) << host.Output();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    host.Signal(row.signal);
    if (row.status == 0) {
      ASSERT_TRUE(host.WaitFor("samples keyed")) << host.Output();
      host.Write("take list\nquit\nquit\n");
      EXPECT_EQ(host.Output().find(" 0 samples keyed"), std::string::npos) << host.Output();
    }
    EXPECT_EQ(host.Wait(), row.status) << host.Output();
    if (row.signal == SIGTERM) {
      EXPECT_NE(host.Output().find("ending on SIGTERM"), std::string::npos);
    }
  }
  // The clean end left the settings as they were set.
  EXPECT_NE(ReadWhole(mFolder.path() + "/host-config/OrbelOpticalDevice.txt").find("StreamBones"),
            std::string::npos);
}
#endif

}  // namespace
}  // namespace orbel::testing
