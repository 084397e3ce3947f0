// Binding the device's root template, as a user does through the host: the
// scene models found or made for every template, their names, classes,
// styles and hierarchy, and their removal.
#include <fbsdk/fbmodel.h>
#include <fbsdk/fbscene.h>

#include <functional>
#include <ostream>

#include "device_fixture.h"

namespace orbel::device_testing {
namespace {

std::vector<std::string> ModelChildNames(const FBModel* model) {
  std::vector<std::string> names;
  for (int i = 0; i < model->Children.GetCount(); ++i) {
    names.push_back(model->Children[i]->GetLabelName().str());
  }
  return names;
}

FBModel* Model(const char* label) { return FBFindModelByLabelName(label); }

bool IsMarkerStyled(FBModel* model) {
  if (model == nullptr || !model->Is(FBModelMarker::TypeInfo)) return false;
  const FBColor color = static_cast<FBModelMarker*>(model)->Color;
  return color == FBColor(0.3, 0.9, 1.0) && model->ShadingMode.Get() == kFBModelShadingWire;
}

class BindingTest : public DeviceTest {
 protected:
  OrbelSimpleDeviceOptical* StartedDevice(const char* scene) {
    Serve(scene);
    OrbelSimpleDeviceOptical* device = AddDevice();
    if (device == nullptr) return nullptr;
    EXPECT_TRUE(GoOnline(device));
    return device;
  }
  bool Bind(OrbelSimpleDeviceOptical* device, FBModel* model = nullptr,
            const std::function<bool(const OrbelDataReader&)>& ready = nullptr) {
    return BindRoot(device, model, ready);
  }
};

TEST_F(BindingTest, FirstBindMakesTheWholeScene) {
  OrbelSimpleDeviceOptical* device = StartedDevice("alice_bob.json");
  ASSERT_NE(device, nullptr);
  device->Live = false;
  ASSERT_TRUE(Bind(device));

  FBModel* root = Access::RootTemplate(*device)->Model;
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->GetLabelName(), "Orbel");
  EXPECT_TRUE(root->Is(FBModelRoot::TypeInfo));
  EXPECT_TRUE(root->Show.Get());
  EXPECT_EQ(Access::BindingRoots(*device), std::vector<FBModel*>{root});
  EXPECT_EQ(ModelChildNames(root), (std::vector<std::string>{"Alice:RootNode", "Bob:RootNode"}));
  for (const char* subject : {"Alice:RootNode", "Bob:RootNode"}) {
    EXPECT_TRUE(Model(subject)->Is(FBModelNull::TypeInfo)) << subject;
    EXPECT_TRUE(Model(subject)->Show.Get()) << subject;
  }
  EXPECT_EQ(ModelChildNames(Model("Bob:RootNode")),
            (std::vector<std::string>{"Bob:Bob_LFHD", "Bob:Bob_RFHD", "Bob:Bob_Hips"}));
  for (const char* marker : {"Bob:Bob_LFHD", "Bob:Bob_RFHD"}) {
    EXPECT_TRUE(IsMarkerStyled(Model(marker))) << marker;
    EXPECT_TRUE(Model(marker)->Show.Get()) << marker;
  }
  EXPECT_TRUE(Model("Bob:Bob_Hips")->Is(FBModelSkeleton::TypeInfo));
  EXPECT_EQ(ModelChildNames(Model("Bob:Bob_Hips")), std::vector<std::string>{"Bob:Bob_Spine"});
  EXPECT_TRUE(Model("Bob:Bob_Spine")->Is(FBModelSkeleton::TypeInfo));

  // Each template is bound to its model.
  EXPECT_EQ(Access::SubjectTemplates(*device).at("Bob")->Model.Get(), Model("Bob:RootNode"));
  EXPECT_EQ(Access::SegmentTemplates(*device).at("Bob:Bob_Spine")->Model.Get(),
            Model("Bob:Bob_Spine"));
  EXPECT_EQ(Access::MarkerTemplates(*device).at("Bob:Bob_LFHD")->Model.Get(),
            Model("Bob:Bob_LFHD"));

  EXPECT_EQ(device->Status.Get(), "Model bound, good to go.");
  EXPECT_TRUE(Access::ModelBound(*device));
  EXPECT_TRUE(device->Live.Get());

  // Only the first bind turns the device live.
  device->Live = false;
  const auto models = fbhost::SceneModels().size();
  ASSERT_TRUE(Bind(device, root));
  EXPECT_FALSE(device->Live.Get());
  EXPECT_EQ(fbhost::SceneModels().size(), models);
}

TEST_F(BindingTest, TakenSubjectNameGetsANumber) {
  OrbelSimpleDeviceOptical* device = StartedDevice("alice_bob.json");
  ASSERT_NE(device, nullptr);
  new FBModelNull("Bob:RootNode");
  ASSERT_TRUE(Bind(device));

  FBModel* root = Access::RootTemplate(*device)->Model;
  EXPECT_EQ(ModelChildNames(root), (std::vector<std::string>{"Alice:RootNode", "Bob 1:RootNode"}));
  EXPECT_EQ(ModelChildNames(Model("Bob 1:RootNode")),
            (std::vector<std::string>{"Bob 1:Bob_LFHD", "Bob 1:Bob_RFHD", "Bob 1:Bob_Hips"}));
  EXPECT_EQ(ModelChildNames(Model("Bob 1:Bob_Hips")), std::vector<std::string>{"Bob 1:Bob_Spine"});
  EXPECT_EQ(Access::SubjectTemplates(*device).at("Bob")->Model.Get(), Model("Bob 1:RootNode"));
}

// A rebind while Bob's subject template is bound moves it to the first child
// of the root model labelled Bob:RootNode or in a numbered namespace of Bob.
TEST_F(BindingTest, RebindFindsTheSubjectModelBelowTheRoot) {
  OrbelSimpleDeviceOptical* device = StartedDevice("alice_bob.json");
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(Bind(device));
  FBModel* root = Access::RootTemplate(*device)->Model;
  FBModelTemplate* bob = Access::SubjectTemplates(*device).at("Bob");

  // Bob:RootNode leaves the root (still bound); Bob 3:RootNode joins it.
  FBModel* first = bob->Model;
  root->Children.Remove(first);
  FBModel* numbered = new FBModelNull("Bob 3:RootNode");
  root->Children.Add(numbered);
  ASSERT_TRUE(Bind(device, root));
  EXPECT_EQ(bob->Model.Get(), numbered);
  EXPECT_NE(Model("Bob 3:Bob_Hips"), nullptr);

  // With no such child the binding stays as it is.
  root->Children.Remove(numbered);
  ASSERT_TRUE(Bind(device, root));
  EXPECT_EQ(bob->Model.Get(), numbered);
}

// A segment is found depth first below its subject model: a deep model in
// an earlier child wins over a shallow one in a later child. What a bind
// learnt about the labels must not outlive it.
TEST_F(BindingTest, RebindFindsSegmentModelsDepthFirst) {
  OrbelSimpleDeviceOptical* device = StartedDevice("alice_bob.json");
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(Bind(device));
  FBModel* root = Access::RootTemplate(*device)->Model;
  FBModelTemplate* spineTemplate = Access::SegmentTemplates(*device).at("Bob:Bob_Spine");
  FBModel* spine = spineTemplate->Model;
  ASSERT_EQ(spine, Model("Bob:Bob_Spine"));

  // One bind each: a bind hangs the model it found below Hips, after Spine.
  auto* holder = new FBModelNull("Bob:Holder");
  Model("Bob:Bob_LFHD")->Children.Add(holder);
  auto* decoy = new FBModelSkeleton("Bob:Bob_Spine");
  holder->Children.Add(decoy);
  ASSERT_TRUE(fbhost::BindTemplate(device, 0, root));
  EXPECT_EQ(spineTemplate->Model.Get(), decoy);

  holder->Children.Add(decoy);
  decoy->SetLabelName("Bob:Other");
  ASSERT_TRUE(fbhost::BindTemplate(device, 0, root));
  EXPECT_EQ(spineTemplate->Model.Get(), spine);
}

TEST_F(BindingTest, UnattachedSegmentIsMadeSceneWide) {
  OrbelSimpleDeviceOptical* device = StartedDevice("unknown_parent.json");
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(Bind(device));

  FBModel* tail = Model("Rex:Rex_Tail");
  ASSERT_NE(tail, nullptr);
  EXPECT_TRUE(tail->Is(FBModelSkeleton::TypeInfo));
  EXPECT_EQ(tail->GetParent(), nullptr);
  EXPECT_EQ(Access::SegmentTemplates(*device).at("Rex:Rex_Tail")->Model.Get(), tail);
  EXPECT_EQ(ModelChildNames(Model("Rex:RootNode")), std::vector<std::string>{"Rex:Rex_Body"});
}

struct ShowCase {
  const char* name;
  void (OrbelSimpleDeviceOptical::*show)(bool);
  bool labelledShown;
  bool unlabeledShown;
};

void PrintTo(const ShowCase& c, std::ostream* out) { *out << c.name; }

class ShowTest : public BindingTest, public ::testing::WithParamInterface<ShowCase> {};

TEST_P(ShowTest, HidesOnlyItsOwnKind) {
  OrbelSimpleDeviceOptical* device = StartedDevice("pose.json");
  ASSERT_NE(device, nullptr);
  device->SetStreamUnlabeledMarkers(true);
  device->SetUnlabeledMarkerCount(3);
  ASSERT_TRUE(Bind(device));
  ASSERT_TRUE(Model("Unlabeled:1")->Show.Get());
  ASSERT_TRUE(Model("Bob:Bob_LFHD")->Show.Get());

  (device->*GetParam().show)(false);
  EXPECT_EQ(Model("Bob:Bob_LFHD")->Show.Get(), GetParam().labelledShown);
  EXPECT_EQ(Model("Bob:Bob_RFHD")->Show.Get(), GetParam().labelledShown);
  for (const char* unlabeled : {"Unlabeled:0", "Unlabeled:1", "Unlabeled:2"}) {
    EXPECT_EQ(Model(unlabeled)->Show.Get(), GetParam().unlabeledShown) << unlabeled;
  }
  EXPECT_TRUE(Model("Bob:Bob_Hips")->Show.Get());
}

INSTANTIATE_TEST_SUITE_P(
    MarkerKinds, ShowTest,
    ::testing::Values(
        ShowCase{"Labelled", &OrbelSimpleDeviceOptical::ShowMarkerModels, false, true},
        ShowCase{"Unlabeled", &OrbelSimpleDeviceOptical::ShowUnlabeledMarkerModels, true, false}),
    [](const ::testing::TestParamInfo<ShowCase>& info) { return info.param.name; });

TEST_F(BindingTest, RemoveUnusedCharactersRemovesOnlyWhatIsGone) {
  OrbelSimpleDeviceOptical* device = StartedDevice("alice_bob_then_alice.json");
  ASSERT_NE(device, nullptr);
  device->SetStreamUnlabeledMarkers(true);
  device->SetUnlabeledMarkerCount(2);

  // Before any bind there is nothing to remove.
  const auto modelsBefore = fbhost::SceneModels().size();
  device->RemoveUnusedCharacters();
  EXPECT_EQ(fbhost::SceneModels().size(), modelsBefore);

  ASSERT_TRUE(Bind(device));
  FBModel* root = Access::RootTemplate(*device)->Model;
  // A numbered Bob no subject is named after.
  FBModel* numbered = new FBModelNull("Bob 1:RootNode");
  root->Children.Add(numbered);

  // Everything still streamed stays.
  device->RemoveUnusedCharacters();
  EXPECT_EQ(ModelChildNames(root),
            (std::vector<std::string>{"Alice:RootNode", "Bob:RootNode", "Unlabeled:RootNode",
                                      "Bob 1:RootNode"}));

  // Bob leaves the stream; a rebind reads the new description.
  mServer.RequestSwitch();
  ASSERT_TRUE(Bind(device, root, [](const OrbelDataReader& reader) {
    return reader.subjectNames == std::vector<FBString>{"Alice"};
  }));
  const auto live = fbhost::LiveComponentCount();
  device->RemoveUnusedCharacters();

  EXPECT_EQ(ModelChildNames(root),
            (std::vector<std::string>{"Alice:RootNode", "Unlabeled:RootNode", "Bob 1:RootNode"}));
  for (const char* gone : {"Bob:RootNode", "Bob:Bob_Hips", "Bob:Bob_LFHD"}) {
    EXPECT_EQ(Model(gone), nullptr) << gone;
  }
  EXPECT_FALSE(fbhost::CurrentScene()->NamespaceExist("Bob"));
  EXPECT_TRUE(fbhost::CurrentScene()->NamespaceExist("Bob 1"));
  EXPECT_EQ(Access::SubjectTemplates(*device).count("Bob"), 0u);
  EXPECT_EQ(Access::SegmentTemplates(*device).count("Bob:Bob_Hips"), 0u);
  EXPECT_EQ(Access::MarkerNodes(*device).count("Bob:Bob_LFHD"), 0u);
  EXPECT_EQ(Access::SegmentTemplates(*device).count("Alice:Alice_Hips"), 1u);
  // Three models and three templates with their three nodes.
  EXPECT_EQ(fbhost::LiveComponentCount(), live - 9);
}

TEST_F(BindingTest, ShutDownDeletesTheModelsItMade) {
  OrbelSimpleDeviceOptical* device = StartedDevice("alice_bob.json");
  ASSERT_NE(device, nullptr);
  FBModel* other = new FBModelNull("Camera");
  ASSERT_TRUE(Bind(device));
  ASSERT_GT(fbhost::SceneModels().size(), 1u);

  EXPECT_TRUE(fbhost::RunDeviceOperation(device, 5));
  EXPECT_EQ(fbhost::SceneModels(), std::vector<FBModel*>{other});
  EXPECT_TRUE(Access::BindingRoots(*device).empty());
}

}  // namespace
}  // namespace orbel::device_testing
