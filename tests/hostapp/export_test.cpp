// The BVH and CSV exporters on takes built by hand: the exported numbers
// are read back with the tests' own BVH reader and compared with the keys,
// rotations as matrices built the host's way (FBRotationToQuaternion), so a
// wrong channel order or a lost key shows.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <fbhost/fbhost.h>
#include <fbsdk/fbsdk.h>

#include "../e2e/bvh_reference.h"
#include "bvh_export.h"
#include "csv_export.h"

namespace orbel::hostapp {
namespace {

using orbel::testing::ParseReferenceBvh;
using orbel::testing::ReferenceBvh;
using orbel::testing::RotationAngleBetween;

FBTime Frame(int n) { return FBTime(n * (FBTime::kTicksPerSecond / 60)); }

// The host's rotation for Euler angles (X, Y, Z degrees), as a matrix.
Eigen::Matrix3d HostRotation(double x, double y, double z) {
  FBVector4<double> q;
  FBRotationToQuaternion(q, FBVector3<double>(x, y, z), kFBXYZ);
  return Eigen::Quaterniond(q[3], q[0], q[1], q[2]).toRotationMatrix();
}

class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override { fbhost::ResetScene(); }
  void TearDown() override { fbhost::ResetScene(); }

  // The current take, knowing the scene's models as a recording of them
  // would have noted them.
  static FBTake& Take() {
    FBTake* take = fbhost::CurrentTake();
    for (FBModel* model : fbhost::SceneModels()) take->NoteModel(model);
    return *take;
  }
  FBModel* Add(FBModel* model, FBModel* parent) {
    if (parent != nullptr) parent->Children.Add(model);
    return model;
  }
  void Key(const std::string& label, const char* type, int frame, double x, double y, double z) {
    FBTake* take = fbhost::CurrentTake();
    const double values[3] = {x, y, z};
    take->AddKey(take->RecordNode(label, type), Frame(frame), values, kFBInterpolationCubic,
                 kFBTangentModeAuto);
  }
  // A subject S with Hips > Spine > Head and one marker, named the way the
  // device names them.
  void BuildSubject(const std::string& s) {
    FBModel* subject = Add(new FBModelNull((s + ":RootNode").c_str()), nullptr);
    FBModel* hips = Add(new FBModelSkeleton((s + ":" + s + "_Hips").c_str()), subject);
    FBModel* spine = Add(new FBModelSkeleton((s + ":" + s + "_Spine").c_str()), hips);
    Add(new FBModelSkeleton((s + ":" + s + "_Head").c_str()), spine);
    Add(new FBModelMarker((s + ":" + s + "_M1").c_str()), subject);
  }
  void KeySubject(const std::string& s, int frames) {
    for (int f = 0; f < frames; ++f) {
      Key(s + ":" + s + "_Hips", kFBDataTypeTranslation, f, f, 90 + f, -f);
      Key(s + ":" + s + "_Hips", kFBDataTypeRotation, f, 10 * f, 200 - 5 * f, 30);
      Key(s + ":" + s + "_Spine", kFBDataTypeTranslation, f, 0, 10, 0);
      Key(s + ":" + s + "_Spine", kFBDataTypeRotation, f, 0, f, 89.5 + f);
      Key(s + ":" + s + "_Head", kFBDataTypeTranslation, f, 0, 5 + 0.5 * f, 0);
      Key(s + ":" + s + "_Head", kFBDataTypeRotation, f, -170 - f, 0, 0);
    }
  }
  ReferenceBvh Export(const std::string& subject = "") {
    BvhMotion motion;
    std::string error;
    EXPECT_TRUE(CollectBvhMotion(Take(), subject, &motion, &error)) << error;
    mNotes = motion.notes;
    ReferenceBvh bvh;
    EXPECT_TRUE(ParseReferenceBvh(FormatBvh(motion), &bvh, &error)) << error;
    return bvh;
  }
  std::string ExportError(const std::string& subject = "") {
    BvhMotion motion;
    std::string error;
    EXPECT_FALSE(CollectBvhMotion(Take(), subject, &motion, &error));
    return error;
  }

  std::vector<std::string> mNotes;
};

TEST_F(ExportTest, BvhCarriesEveryKeyOfEveryJoint) {
  BuildSubject("walk");
  KeySubject("walk", 4);
  const ReferenceBvh bvh = Export();
  ASSERT_EQ(bvh.joints.size(), 3u);
  EXPECT_EQ(bvh.joints[0].name, "Hips");
  EXPECT_EQ(bvh.joints[1].name, "Spine");
  EXPECT_EQ(bvh.joints[2].name, "Head");
  EXPECT_EQ(bvh.joints[1].parent, 0);
  EXPECT_EQ(bvh.joints[2].parent, 1);
  EXPECT_EQ(bvh.endSites, 1);
  EXPECT_NEAR(bvh.frameTime, 1.0 / 60.0, 1e-9);
  ASSERT_EQ(bvh.frames.size(), 4u);

  // The root and the joint whose translation moves get positions; the
  // still one keeps its length in OFFSET.
  EXPECT_EQ(bvh.joints[0].channels.size(), 6u);
  EXPECT_EQ(bvh.joints[1].channels.size(), 3u);
  EXPECT_EQ(bvh.joints[2].channels.size(), 6u);
  EXPECT_EQ(bvh.joints[1].offset, Eigen::Vector3d(0, 10, 0));
  EXPECT_EQ(bvh.joints[0].offset, Eigen::Vector3d::Zero());

  for (int f = 0; f < 4; ++f) {
    SCOPED_TRACE("frame " + std::to_string(f));
    EXPECT_EQ(bvh.LocalTranslation(0, f), Eigen::Vector3d(f, 90 + f, -f));
    EXPECT_EQ(bvh.LocalTranslation(1, f), Eigen::Vector3d(0, 10, 0));
    EXPECT_EQ(bvh.LocalTranslation(2, f), Eigen::Vector3d(0, 5 + 0.5 * f, 0));
    EXPECT_LE(RotationAngleBetween(bvh.LocalRotation(0, f), HostRotation(10 * f, 200 - 5 * f, 30)),
              1e-12);
    EXPECT_LE(RotationAngleBetween(bvh.LocalRotation(1, f), HostRotation(0, f, 89.5 + f)), 1e-12);
    EXPECT_LE(RotationAngleBetween(bvh.LocalRotation(2, f), HostRotation(-170 - f, 0, 0)), 1e-12);
  }
  EXPECT_TRUE(mNotes.empty());
}

TEST_F(ExportTest, NumbersReadBackBitForBit) {
  BuildSubject("S");
  const double awkward = 0.1 * 1.24777;  // not a short decimal
  Key("S:S_Hips", kFBDataTypeTranslation, 0, awkward, 1e-300, -0.0);
  Key("S:S_Hips", kFBDataTypeRotation, 0, 1.0 / 3.0, 0, 0);
  const ReferenceBvh bvh = Export("S");
  ASSERT_EQ(bvh.frames.size(), 1u);
  EXPECT_EQ(bvh.LocalTranslation(0, 0)[0], awkward);
  EXPECT_EQ(bvh.LocalTranslation(0, 0)[1], 1e-300);
  EXPECT_EQ(bvh.frames[0][5], 1.0 / 3.0);  // Xrotation comes last
}

TEST_F(ExportTest, AJointWithoutAKeyAtAFrameHoldsItsLastKeyAndSaysSo) {
  BuildSubject("S");
  KeySubject("S", 2);
  Key("S:S_Hips", kFBDataTypeRotation, 2, 1, 2, 3);  // frame 2: only the hips
  const ReferenceBvh bvh = Export();
  ASSERT_EQ(bvh.frames.size(), 3u);
  EXPECT_LE(RotationAngleBetween(bvh.LocalRotation(1, 2), HostRotation(0, 1, 90.5)), 1e-12);
  ASSERT_EQ(mNotes.size(), 1u);
  EXPECT_NE(mNotes[0].find("5 joint values"), std::string::npos) << mNotes[0];
}

TEST_F(ExportTest, AJointNeverKeyedKeepsItsModelsPose) {
  BuildSubject("S");
  Key("S:S_Hips", kFBDataTypeTranslation, 0, 1, 2, 3);
  Key("S:S_Hips", kFBDataTypeRotation, 0, 0, 0, 0);
  FBModel* spine = FBFindModelByLabelName("S:S_Spine");
  spine->Translation = FBVector3<double>(0, 7, 0);
  const ReferenceBvh bvh = Export();
  EXPECT_EQ(bvh.joints[1].offset, Eigen::Vector3d(0, 7, 0));
  bool noted = false;
  for (const auto& note : mNotes) noted = noted || note.find("'S:S_Spine'") != std::string::npos;
  EXPECT_TRUE(noted);
}

TEST_F(ExportTest, SubjectsAreRootsAndTheFilterPicksOne) {
  BuildSubject("A");
  BuildSubject("B");
  KeySubject("A", 2);
  KeySubject("B", 2);
  ReferenceBvh both = Export();
  ASSERT_EQ(both.joints.size(), 6u);
  EXPECT_EQ(both.joints[3].parent, -1);
  // Names stay unique across skeletons.
  EXPECT_EQ(both.joints[3].name, "Hips_2");

  const ReferenceBvh onlyB = Export("B");
  ASSERT_EQ(onlyB.joints.size(), 3u);
  EXPECT_EQ(onlyB.joints[0].name, "Hips");

  const std::string error = ExportError("C");
  EXPECT_NE(error.find("'C'"), std::string::npos) << error;
  EXPECT_NE(error.find("'A', 'B'"), std::string::npos) << error;
}

TEST_F(ExportTest, NumberedSubjectNullsStillLoseTheCharacterPrefix) {
  FBModel* subject = Add(new FBModelNull("Bob 1:RootNode"), nullptr);
  Add(new FBModelSkeleton("Bob 1:Bob_Hips"), subject);
  Key("Bob 1:Bob_Hips", kFBDataTypeRotation, 0, 0, 0, 0);
  EXPECT_EQ(Export("Bob 1").joints[0].name, "Hips");
}

TEST_F(ExportTest, NamesAreKeptWholeWhenNotEveryJointHasThePrefixAndMadeSafeForBvh) {
  FBModel* subject = Add(new FBModelNull("S:RootNode"), nullptr);
  FBModel* hips = Add(new FBModelSkeleton("S:S_Hips"), subject);
  Add(new FBModelSkeleton("S:left {arm}"), hips);
  Key("S:S_Hips", kFBDataTypeRotation, 0, 0, 0, 0);
  const ReferenceBvh bvh = Export();
  ASSERT_EQ(bvh.joints.size(), 2u);
  EXPECT_EQ(bvh.joints[0].name, "S_Hips");
  EXPECT_EQ(bvh.joints[1].name, "left__arm_");
}

TEST_F(ExportTest, DeepHierarchiesExport) {
  FBModel* parent = Add(new FBModelNull("D:RootNode"), nullptr);
  constexpr int kDepth = 2000;
  for (int i = 0; i < kDepth; ++i) {
    parent = Add(new FBModelSkeleton(("D:J" + std::to_string(i)).c_str()), parent);
  }
  Key("D:J0", kFBDataTypeRotation, 0, 0, 0, 0);
  BvhMotion motion;
  std::string error;
  ASSERT_TRUE(CollectBvhMotion(Take(), "", &motion, &error)) << error;
  EXPECT_EQ(motion.joints.size(), static_cast<std::size_t>(kDepth));
  EXPECT_EQ(motion.joints.back().parent, kDepth - 2);
  EXPECT_FALSE(FormatBvh(motion).empty());
}

TEST_F(ExportTest, RefusesWhatBvhCannotCarry) {
  BuildSubject("S");
  EXPECT_NE(ExportError().find("no skeleton model has keys"), std::string::npos);
  Key("S:S_Hips", kFBDataTypeRotation, 0, 0, std::numeric_limits<double>::quiet_NaN(), 0);
  const std::string error = ExportError();
  EXPECT_NE(error.find("'S:S_Hips'"), std::string::npos) << error;
  EXPECT_NE(error.find("not a number"), std::string::npos) << error;
}

TEST_F(ExportTest, OtherLayersAndTheDevicesOwnNodesAreNotExported) {
  BuildSubject("S");
  FBTake* take = fbhost::CurrentTake();
  take->SetCurrentLayer(take->CreateNewLayer());
  Key("S:S_Hips", kFBDataTypeRotation, 0, 1, 2, 3);
  EXPECT_NE(ExportError().find("no skeleton model has keys"), std::string::npos);
}

TEST_F(ExportTest, CsvHasOneRowPerTimeAndLeavesMissingKeysEmpty) {
  FBModel* subject = Add(new FBModelNull("S:RootNode"), nullptr);
  Add(new FBModelMarker("S:A"), subject);
  Add(new FBModelMarker("S:B,\"x\""), subject);
  Add(new FBModelMarker("T:C"), nullptr);
  Key("S:A", kFBDataTypeTranslation, 0, 1, 2, 3);
  Key("S:A", kFBDataTypeTranslation, 1, 4, 5, 6);
  Key("S:B,\"x\"", kFBDataTypeTranslation, 1, 0.1, -0.0, 1e-300);
  Key("T:C", kFBDataTypeTranslation, 2, 7, 8, 9);

  MarkerTable table;
  std::string error;
  ASSERT_TRUE(CollectMarkerTable(Take(), "S", &table, &error)) << error;
  EXPECT_EQ(FormatCsv(table),
            "time,S:A x,S:A y,S:A z,\"S:B,\"\"x\"\" x\",\"S:B,\"\"x\"\" y\",\"S:B,\"\"x\"\" z\"\n"
            "0.000000000,1,2,3,,,\n"
            "0.016666667,4,5,6,0.1,-0,1e-300\n");

  ASSERT_TRUE(CollectMarkerTable(Take(), "", &table, &error)) << error;
  EXPECT_EQ(table.labels.size(), 3u);
  EXPECT_EQ(table.times.size(), 3u);

  EXPECT_FALSE(CollectMarkerTable(Take(), "U", &table, &error));
  EXPECT_NE(error.find("'U'"), std::string::npos) << error;
}

}  // namespace
}  // namespace orbel::hostapp
