// The model template hierarchy built from a real server's description.
#include <algorithm>

#include "device_fixture.h"

namespace orbel::device_testing {
namespace {

FBModelTemplate* Subject(const OrbelSimpleDeviceOptical& device, const char* name) {
  const auto& map = Access::SubjectTemplates(device);
  const auto found = map.find(name);
  return found == map.end() ? nullptr : found->second;
}

class TemplatesTest : public DeviceTest {
 protected:
  // A started device serving the scene, with the unlabelled-marker option
  // and the strip option as given, and three unlabelled markers.
  OrbelSimpleDeviceOptical* StartedDevice(const char* scene, bool unlabeled = false,
                                          bool strip = false) {
    Serve(scene);
    OrbelSimpleDeviceOptical* device = AddDevice();
    if (device == nullptr) return nullptr;
    EXPECT_TRUE(GoOnline(device));
    device->SetStreamUnlabeledMarkers(unlabeled);
    device->SetUnlabeledMarkerCount(3);
    device->SetStripCharacterName(strip);
    return device;
  }
};

TEST_F(TemplatesTest, AliceAndBobMakeTheExpectedHierarchy) {
  OrbelSimpleDeviceOptical* device = StartedDevice("alice_bob.json");
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(BuildFromFreshDescription(*device));

  FBModelTemplate* root = Access::RootTemplate(*device);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->Prefix.Get(), "Orbel");
  EXPECT_EQ(root->GetLabelName(), "Optical");
  EXPECT_EQ(root->Style.Get(), kFBModelTemplateRoot);

  const auto subjects = Children(*root);
  ASSERT_EQ(subjects.size(), 2u);
  EXPECT_EQ(subjects[0], Subject(*device, "Alice"));
  EXPECT_EQ(subjects[1], Subject(*device, "Bob"));
  for (FBModelTemplate* subject : subjects) {
    EXPECT_EQ(subject->GetLabelName(), "RootNode");
    EXPECT_EQ(subject->Style.Get(), kFBModelTemplateNull);
    EXPECT_EQ(subject->AnimationNodes.GetCount(), 0);
  }
  EXPECT_EQ(subjects[0]->Prefix.Get(), "Alice");
  EXPECT_EQ(subjects[1]->Prefix.Get(), "Bob");
  EXPECT_TRUE(Children(*subjects[0]).empty());

  const std::vector<std::string> bobChildren = {"Bob:Bob_LFHD", "Bob:Bob_RFHD", "Bob:Bob_Hips"};
  EXPECT_EQ(ChildNames(*subjects[1]), bobChildren);
  const auto bob = Children(*subjects[1]);
  ASSERT_EQ(bob.size(), 3u);
  EXPECT_EQ(bob[0]->Style.Get(), kFBModelTemplateMarker);
  EXPECT_EQ(bob[2]->Style.Get(), kFBModelTemplateSkeleton);
  EXPECT_EQ(bob[2]->Prefix.Get(), "Bob");
  EXPECT_EQ(ChildNames(*bob[2]), std::vector<std::string>{"Bob:Bob_Spine"});

  // Nodes: markers in key order, then segments in key order, translation
  // before rotation, numbered from 0.
  struct ExpectedNode {
    FBModelTemplate* owner;
    int index;
    kULongLong id;
    const char* name;
    const char* dataType;
  };
  FBModelTemplate* spine = Children(*bob[2])[0];
  const ExpectedNode nodes[] = {
      {bob[0], 0, 0, "Bob:Bob_LFHD", "Lcl Translation"},
      {bob[1], 0, 1, "Bob:Bob_RFHD", "Lcl Translation"},
      {bob[2], 0, 2, "Bob:Bob_Hips_Translation", "Lcl Translation"},
      {bob[2], 1, 3, "Bob:Bob_Hips_Rotation", "Lcl Rotation"},
      {spine, 0, 4, "Bob:Bob_Spine_Translation", "Lcl Translation"},
      {spine, 1, 5, "Bob:Bob_Spine_Rotation", "Lcl Rotation"},
  };
  for (const ExpectedNode& expected : nodes) {
    SCOPED_TRACE(expected.name);
    FBAnimationNode* node = expected.owner->AnimationNodes[expected.index];
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->GetUserId(), expected.id);
    EXPECT_EQ(node->Name.Get(), expected.name);
    EXPECT_EQ(node->GetDataType(), expected.dataType);
    EXPECT_FALSE(node->GetBufferType());
    bool recordable = false;
    bool userData = true;
    EXPECT_TRUE(device->OwnsNode(node, &recordable, &userData));
    EXPECT_TRUE(recordable);
    EXPECT_FALSE(userData);
  }
  EXPECT_EQ(Access::TranslationNodes(*device).at("Bob:Bob_Hips"), bob[2]->AnimationNodes[0]);
  EXPECT_EQ(Access::RotationNodes(*device).at("Bob:Bob_Spine"), spine->AnimationNodes[1]);
  EXPECT_EQ(Access::MarkerNodes(*device).at("Bob:Bob_RFHD"), bob[1]->AnimationNodes[0]);
  EXPECT_EQ(Access::NodeCounter(*device), 6);
}

TEST_F(TemplatesTest, BuildingAgainCreatesNothing) {
  OrbelSimpleDeviceOptical* device = StartedDevice("alice_bob.json", true);
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(BuildFromFreshDescription(*device));
  const auto live = fbhost::LiveComponentCount();
  const auto entries = Access::MapEntryCount(*device);
  const int counter = Access::NodeCounter(*device);
  const int nodes = device->AnimationNodeOutCount();

  ASSERT_TRUE(BuildFromFreshDescription(*device));
  EXPECT_EQ(fbhost::LiveComponentCount(), live);
  EXPECT_EQ(Access::MapEntryCount(*device), entries);
  EXPECT_EQ(Access::NodeCounter(*device), counter);
  EXPECT_EQ(device->AnimationNodeOutCount(), nodes);
  EXPECT_EQ(ChildNames(*Subject(*device, "Bob")),
            (std::vector<std::string>{"Bob:Bob_LFHD", "Bob:Bob_RFHD", "Bob:Bob_Hips"}));
}

TEST_F(TemplatesTest, StripOptionAddsTemplatesBesideTheOldOnes) {
  OrbelSimpleDeviceOptical* device = StartedDevice("alice_bob.json");
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(BuildFromFreshDescription(*device));
  device->SetStripCharacterName(true);
  ASSERT_TRUE(BuildFromFreshDescription(*device));

  const std::vector<std::string> bobChildren = {"Bob:Bob_LFHD", "Bob:Bob_RFHD", "Bob:Bob_Hips",
                                                "Bob:LFHD",     "Bob:RFHD",     "Bob:Hips"};
  EXPECT_EQ(ChildNames(*Subject(*device, "Bob")), bobChildren);
  FBModelTemplate* hips = Access::SegmentTemplates(*device).at("Bob:Hips");
  EXPECT_EQ(ChildNames(*hips), std::vector<std::string>{"Bob:Spine"});
  EXPECT_EQ(hips->AnimationNodes[0]->Name.Get(), "Bob:Hips_Translation");
  EXPECT_EQ(hips->AnimationNodes[1]->Name.Get(), "Bob:Hips_Rotation");
  // Identifiers keep growing across builds.
  EXPECT_EQ(hips->AnimationNodes[0]->GetUserId(), 8u);
}

// The unlabelled subject comes after the others, only with its option on.
TEST_F(TemplatesTest, UnlabeledSubjectOnlyWithItsOption) {
  for (bool unlabeled : {false, true}) {
    SCOPED_TRACE(unlabeled ? "option on" : "option off");
    fbhost::ResetScene();
    OrbelSimpleDeviceOptical* device = StartedDevice("alice_bob.json", unlabeled);
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(BuildFromFreshDescription(*device));
    const auto subjects = Children(*Access::RootTemplate(*device));
    if (!unlabeled) {
      EXPECT_EQ(subjects.size(), 2u);
      EXPECT_EQ(Subject(*device, "Unlabeled"), nullptr);
      EXPECT_EQ(Access::MarkerNodes(*device).count("Unlabeled:0"), 0u);
      continue;
    }
    ASSERT_EQ(subjects.size(), 3u);
    EXPECT_EQ(subjects[2], Subject(*device, "Unlabeled"));
    EXPECT_EQ(subjects[2]->Prefix.Get(), "Unlabeled");
    const std::vector<std::string> markers = {"Unlabeled:0", "Unlabeled:1", "Unlabeled:2"};
    EXPECT_EQ(ChildNames(*subjects[2]), markers);
    for (FBModelTemplate* marker : Children(*subjects[2])) {
      ASSERT_EQ(marker->AnimationNodes.GetCount(), 1);
      EXPECT_EQ(marker->AnimationNodes[0]->Name.Get(), marker->GetLabelName());
      EXPECT_EQ(marker->Style.Get(), kFBModelTemplateMarker);
    }
  }
}

TEST_F(TemplatesTest, SegmentWithUnknownParentKeepsTemplateAndNodesButNoParent) {
  OrbelSimpleDeviceOptical* device = StartedDevice("unknown_parent.json");
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(BuildFromFreshDescription(*device));

  FBModelTemplate* root = Access::RootTemplate(*device);
  FBModelTemplate* tail = Access::SegmentTemplates(*device).at("Rex:Rex_Tail");
  EXPECT_EQ(tail->AnimationNodes.GetCount(), 2);
  EXPECT_EQ(Access::TranslationNodes(*device).count("Rex:Rex_Tail"), 1u);
  EXPECT_EQ(OrbelSimpleDeviceOptical::FindParentTemplate(root, tail), nullptr);
  FBModelTemplate* body = Access::SegmentTemplates(*device).at("Rex:Rex_Body");
  EXPECT_EQ(OrbelSimpleDeviceOptical::FindParentTemplate(root, body), Subject(*device, "Rex"));
}

TEST_F(TemplatesTest, RemovingBobLeavesBobby) {
  OrbelSimpleDeviceOptical* device = StartedDevice("shared_prefix.json", true);
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(BuildFromFreshDescription(*device));
  const auto live = fbhost::LiveComponentCount();
  FBModelTemplate* bob = Subject(*device, "Bob");
  FBModelTemplate* bobby = Subject(*device, "Bobby");
  ASSERT_NE(bob, nullptr);

  device->RemoveSubjectTemplates(bob);

  FBModelTemplate* root = Access::RootTemplate(*device);
  EXPECT_EQ(Children(*root), (std::vector<FBModelTemplate*>{bobby, Subject(*device, "Unlabeled")}));
  EXPECT_EQ(Subject(*device, "Bob"), nullptr);
  const auto keys = [](const auto& map) {
    std::vector<std::string> all;
    for (const auto& entry : map) all.push_back(entry.first.str());
    return all;
  };
  const std::vector<std::string> bobbySegment = {"Bobby:Bobby_Hips"};
  EXPECT_EQ(keys(Access::SegmentTemplates(*device)), bobbySegment);
  EXPECT_EQ(keys(Access::TranslationNodes(*device)), bobbySegment);
  EXPECT_EQ(keys(Access::RotationNodes(*device)), bobbySegment);
  const std::vector<std::string> markers = {"Bobby:Bobby_Head", "Unlabeled:0", "Unlabeled:1",
                                            "Unlabeled:2"};
  EXPECT_EQ(keys(Access::MarkerTemplates(*device)), markers);
  EXPECT_EQ(keys(Access::MarkerNodes(*device)), markers);
  EXPECT_EQ(ChildNames(*bobby), (std::vector<std::string>{"Bobby:Bobby_Head", "Bobby:Bobby_Hips"}));
  // Bob's subject, segment and marker templates are gone, with their three
  // nodes.
  EXPECT_EQ(fbhost::LiveComponentCount(), live - 6);
}

struct NameCase {
  const char* text;
  const char* ns;
  const char* name;
};

class NamespaceTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(NamespaceTest, SplitsAtTheFirstColon) {
  const NameCase& c = GetParam();
  EXPECT_EQ(OrbelSimpleDeviceOptical::NamespaceOf(c.text), c.ns);
  EXPECT_EQ(OrbelSimpleDeviceOptical::NameAfterNamespace(c.text), c.name);
}

INSTANTIATE_TEST_SUITE_P(LabelNames, NamespaceTest,
                         ::testing::Values(NameCase{"Bob:RootNode", "Bob", "RootNode"},
                                           NameCase{"Bob 1:Bob_Hips", "Bob 1", "Bob_Hips"},
                                           NameCase{"A:B:C", "A", "B:C"},
                                           NameCase{"Hips", "Hips", "Hips"},
                                           NameCase{":RootNode", ":RootNode", ":RootNode"},
                                           NameCase{"Bob:", "Bob", ""}, NameCase{"", "", ""}));

}  // namespace
}  // namespace orbel::device_testing
