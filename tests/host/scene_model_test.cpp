// Scene structure: lists, models, templates, references, namespaces, lookup.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fbhost/components.h"
#include "fbhost/scene.h"
#include "fbsdk/fbsdk.h"

namespace {

class SceneTest : public ::testing::Test {
 protected:
  void SetUp() override { fbhost::ResetScene(); }
  void TearDown() override { fbhost::ResetScene(); }
};

TEST_F(SceneTest, ListAddFindRemoveFollowTheListRules) {
  auto* parent = new FBModelNull("P");
  auto* a = new FBModelNull("A");
  auto* b = new FBModelNull("B");
  FBPropertyListModel& list = parent->Children;

  EXPECT_EQ(list.Add(a), 0);
  EXPECT_EQ(list.Add(b), 1);
  EXPECT_EQ(list.Add(a), 0) << "a second add of the same item answers its index";
  EXPECT_EQ(list.GetCount(), 2);
  EXPECT_EQ(list.Add(nullptr), -1);
  EXPECT_EQ(list.Find(b), 1);
  EXPECT_EQ(list.Find(parent), -1);
  for (int bad : {-1, 2, 1000}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(list[bad], nullptr);
    EXPECT_FALSE(list.RemoveAt(bad));
  }
  EXPECT_TRUE(list.RemoveAt(0));
  EXPECT_EQ(list[0], b) << "later items move down";
  EXPECT_EQ(a->GetParent(), nullptr);
  list.RemoveAll();
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_EQ(fbhost::SceneModels().size(), 3u) << "removing from a list deletes nothing";
}

TEST_F(SceneTest, AModelHasOneParentAndNeverBecomesItsOwnAncestor) {
  auto* root = new FBModelNull("R");
  auto* a = new FBModelNull("A");
  auto* b = new FBModelNull("B");
  auto* c = new FBModelNull("C");
  root->Children.Add(a);
  a->Children.Add(b);
  b->Children.Add(c);

  // Re-parenting moves the model.
  EXPECT_EQ(root->Children.Add(c), 1);
  EXPECT_EQ(c->GetParent(), root);
  EXPECT_EQ(b->Children.GetCount(), 0);

  // Refused adds change nothing.
  struct Case {
    FBModel* parent;
    FBModel* child;
  };
  for (const Case& bad : {Case{a, a}, Case{b, a}, Case{b, root}}) {
    EXPECT_EQ(bad.parent->Children.Add(bad.child), -1);
  }
  EXPECT_EQ(a->GetParent(), root);
  EXPECT_EQ(b->GetParent(), a);
}

TEST_F(SceneTest, TemplateListsRefuseCycles) {
  auto* top = new FBModelTemplate("P", "top", kFBModelTemplateRoot);
  auto* mid = new FBModelTemplate("P", "mid", kFBModelTemplateNull);
  auto* low = new FBModelTemplate("P", "low", kFBModelTemplateSkeleton);
  EXPECT_EQ(top->Children.Add(mid), 0);
  EXPECT_EQ(mid->Children.Add(low), 0);
  EXPECT_EQ(low->Children.Add(top), -1);
  EXPECT_EQ(low->Children.Add(mid), -1);
  EXPECT_EQ(mid->Children.Add(mid), -1);
  // A template may stand in two lists (no cycle).
  EXPECT_EQ(top->Children.Add(low), 1);
  // With three parents, a cycle through any of them is refused.
  auto* side = new FBModelTemplate("P", "side", kFBModelTemplateNull);
  EXPECT_EQ(side->Children.Add(low), 0);
  for (FBModelTemplate* t : {side, top, mid}) EXPECT_EQ(low->Children.Add(t), -1);
  for (FBModelTemplate* t : {low, mid, top, side}) t->FBDelete();
}

TEST_F(SceneTest, DeletingAModelUnlinksItEverywhereAndFreesIt) {
  const auto allocations = fbhost::OutstandingComponentAllocations();
  auto* root = new FBModelRoot("Orbel");
  auto* hips = new FBModelSkeleton("Bob:Hips");
  auto* spine = new FBModelSkeleton("Bob:Spine");
  root->Children.Add(hips);
  hips->Children.Add(spine);
  auto* bound = new FBModelTemplate("Bob", "Bob:Hips", kFBModelTemplateSkeleton);
  bound->Model = hips;
  FBPropertyModel reference;
  reference = hips;

  hips->FBDelete();  // made with new, mAllocated never set: FBDelete still frees it

  EXPECT_EQ(bound->Model.Get(), nullptr);
  EXPECT_EQ(reference.Get(), nullptr);
  EXPECT_EQ(root->Children.GetCount(), 0);
  EXPECT_EQ(spine->GetParent(), nullptr) << "children stay in the scene, without a parent";
  EXPECT_EQ(FBFindModelByLabelName("Bob:Hips"), nullptr);
  EXPECT_EQ(FBFindModelByLabelName("Bob:Spine"), spine);

  // A model that left the scene cannot be bound again.
  FBModelNull onStack("Stack");
  onStack.FBDelete();
  EXPECT_FALSE(bound->Model.Set(&onStack));
  EXPECT_EQ(bound->Model.Get(), nullptr);

  bound->FBDelete();
  spine->FBDelete();
  root->FBDelete();
  EXPECT_EQ(fbhost::OutstandingComponentAllocations(), allocations);
}

TEST_F(SceneTest, DeletingATemplateLeavesItsListsAndLetsGoOfItsItems) {
  auto* parent = new FBModelTemplate("P", "parent", kFBModelTemplateNull);
  auto* doomed = new FBModelTemplate("P", "doomed", kFBModelTemplateNull);
  auto* child = new FBModelTemplate("P", "child", kFBModelTemplateMarker);
  parent->Children.Add(doomed);
  doomed->Children.Add(child);
  doomed->FBDelete();
  EXPECT_EQ(parent->Children.GetCount(), 0);
  // The child lives on and can be attached elsewhere.
  EXPECT_EQ(parent->Children.Add(child), 0);
  child->FBDelete();
  EXPECT_EQ(parent->Children.GetCount(), 0);
  parent->FBDelete();
}

TEST_F(SceneTest, FindByLabelAnswersTheFirstExactMatch) {
  auto* first = new FBModelNull("Bob:RootNode");
  new FBModelNull("Bob:RootNode");
  new FBModelNull(":RootNode");
  EXPECT_EQ(FBFindModelByLabelName("Bob:RootNode"), first);
  EXPECT_NE(FBFindModelByLabelName(":RootNode"), nullptr);
  for (const char* missing :
       std::vector<const char*>{"bob:RootNode", "Bob:RootNode ", "RootNode", "", nullptr}) {
    SCOPED_TRACE(missing ? missing : "(null)");
    EXPECT_EQ(FBFindModelByLabelName(missing), nullptr);
  }
}

TEST_F(SceneTest, NamespaceDeleteRemovesOnlyThatNamespace) {
  for (const char* label : {"Bob:RootNode", "Bob:Bob_Hips", "Bobby:RootNode", "Bob 1:RootNode",
                            "Orbel", "Unlabeled:0"}) {
    new FBModelNull(label);
  }
  FBSystem system;
  FBScene* scene = system.Scene;
  ASSERT_NE(scene, nullptr);

  struct Case {
    const char* name;
    bool exists;
  };
  for (const Case& c :
       {Case{"Bob", true}, Case{"Bobby", true}, Case{"Bob 1", true}, Case{"Unlabeled", true},
        Case{"Orbel", false}, Case{"", false}, Case{"Bo", false}}) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(scene->NamespaceExist(c.name), c.exists);
  }

  EXPECT_TRUE(scene->NamespaceDelete("Bob"));
  EXPECT_FALSE(scene->NamespaceExist("Bob"));
  EXPECT_EQ(FBFindModelByLabelName("Bob:RootNode"), nullptr);
  EXPECT_EQ(FBFindModelByLabelName("Bob:Bob_Hips"), nullptr);
  EXPECT_NE(FBFindModelByLabelName("Bobby:RootNode"), nullptr);
  EXPECT_NE(FBFindModelByLabelName("Bob 1:RootNode"), nullptr);
  EXPECT_FALSE(scene->NamespaceDelete("Bob")) << "a second delete finds nothing";
  EXPECT_FALSE(scene->NamespaceDelete(nullptr));
  EXPECT_EQ(fbhost::SceneNamespaces(), (std::vector<std::string>{"Bob 1", "Bobby", "Unlabeled"}));
}

TEST_F(SceneTest, AnEmptiedNamespaceStaysUntilDeleted) {
  auto* model = new FBModelNull("Alice:RootNode");
  model->FBDelete();
  FBScene* scene = fbhost::CurrentScene();
  EXPECT_TRUE(scene->NamespaceExist("Alice"));
  EXPECT_TRUE(scene->NamespaceDelete("Alice"));
  EXPECT_FALSE(scene->NamespaceExist("Alice"));
}

TEST_F(SceneTest, NodesKeepTheirNameWholeAndClampToTheirRange) {
  FBBox box("box");
  const double low[3] = {-1, -1, -1};
  const double high[3] = {1, 2, 3};
  FBAnimationNode* node = box.AnimationNodeOutCreate(7, "Bob:Bob_Hips_Translation",
                                                     kFBDataTypeTranslation, true, low, high);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->Name.Get(), "Bob:Bob_Hips_Translation");
  EXPECT_EQ(node->LongName.Get(), "Bob:Bob_Hips_Translation");
  EXPECT_EQ(node->GetUserId(), 7u);
  EXPECT_EQ(node->GetDataType(), "Lcl Translation");
  EXPECT_EQ(box.AnimationNodeOutCreate(8, nullptr, "x"), nullptr);

  double out[3] = {5, 5, 5};
  EXPECT_TRUE(node->ReadData(out));
  EXPECT_EQ(FBVector3<double>(out), FBVector3<double>(0, 0, 0));
  EXPECT_FALSE(node->IsWritten());
  const double in[3] = {-10, 1.5, 10};
  EXPECT_TRUE(node->WriteData(in));
  node->ReadData(out);
  EXPECT_EQ(FBVector3<double>(out), FBVector3<double>(-1, 1.5, 3));
  EXPECT_FALSE(node->WriteData(nullptr));
  EXPECT_FALSE(node->ReadData(nullptr));

  // A template's list only refers to the node; the box frees it.
  auto* holder = new FBModelTemplate("P", "holder", kFBModelTemplateMarker);
  holder->AnimationNodes.Add(node);
  EXPECT_TRUE(box.AnimationNodeDestroy(node));
  EXPECT_EQ(holder->AnimationNodes.GetCount(), 0);
  EXPECT_FALSE(box.AnimationNodeDestroy(node));
  holder->FBDelete();
}

TEST_F(SceneTest, ResetLeavesNoComponentOfTheTestBehind) {
  fbhost::ResetScene();
  const auto live = fbhost::LiveComponentCount();
  const auto allocations = fbhost::OutstandingComponentAllocations();
  auto* root = new FBModelRoot("Orbel");
  root->Children.Add(new FBModelMarker("Bob:LFHD"));
  auto* kept = new FBModelTemplate("Bob", "Bob:Bob_Hips", kFBModelTemplateSkeleton);
  fbhost::CreateTake("Take 002");
  fbhost::ResetScene();
  // The template belongs to its maker, not the scene: one component is left.
  EXPECT_EQ(fbhost::LiveComponentCount(), live + 1);
  EXPECT_EQ(fbhost::OutstandingComponentAllocations(), allocations + 1);
  EXPECT_TRUE(fbhost::SceneModels().empty());
  EXPECT_EQ(fbhost::Takes().size(), 1u);
  kept->FBDelete();
  EXPECT_EQ(fbhost::LiveComponentCount(), live);
  EXPECT_EQ(fbhost::OutstandingComponentAllocations(), allocations);
}

}  // namespace
