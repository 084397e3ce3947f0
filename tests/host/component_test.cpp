#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include <fbhost/components.h>
#include <fbsdk/fbcomponent.h>
#include <fbsdk/fbregistry.h>

namespace {

class TestComponent : public FBComponent {
  FBClassDeclare(TestComponent, FBComponent);

 public:
  explicit TestComponent(const char* name = "test", bool refuse = false)
      : FBComponent(name, nullptr), mRefuse(refuse) {}
  bool FBCreate() override { return !mRefuse; }
  void FBDestroy() override {
    ++destroyCalls;
    sawDestroying = GetObjectStatus(kFBStatusDestroying);
  }
  static int destroyCalls;
  bool sawDestroying = false;

 private:
  bool mRefuse;
};
int TestComponent::destroyCalls = 0;
FBClassImplementation(TestComponent);

TEST(FBComponentTest, LiveCountFollowsConstructionAndDestruction) {
  const auto before = fbhost::LiveComponentCount();
  {
    FBComponent a;
    TestComponent b;
    EXPECT_EQ(fbhost::LiveComponentCount(), before + 2);
  }
  EXPECT_EQ(fbhost::LiveComponentCount(), before);
}

TEST(FBComponentTest, AllocatorCountsHeapComponents) {
  const auto live = fbhost::LiveComponentCount();
  const auto allocations = fbhost::OutstandingComponentAllocations();
  auto* c = new TestComponent("heap");
  EXPECT_EQ(fbhost::OutstandingComponentAllocations(), allocations + 1);
  EXPECT_EQ(fbhost::LiveComponentCount(), live + 1);
  delete c;
  EXPECT_EQ(fbhost::OutstandingComponentAllocations(), allocations);
  EXPECT_EQ(fbhost::LiveComponentCount(), live);
}

TEST(FBComponentTest, FBDeleteFreesSystemAllocatedComponent) {
  const auto live = fbhost::LiveComponentCount();
  const auto allocations = fbhost::OutstandingComponentAllocations();
  TestComponent::destroyCalls = 0;
  auto* c = new TestComponent("owned");
  c->mAllocated = true;
  ASSERT_TRUE(c->FBCreate());
  c->FBDelete();
  EXPECT_EQ(TestComponent::destroyCalls, 1);
  EXPECT_EQ(fbhost::LiveComponentCount(), live);
  EXPECT_EQ(fbhost::OutstandingComponentAllocations(), allocations);
}

TEST(FBComponentTest, FBDeleteOnUnallocatedRunsFBDestroyOnce) {
  TestComponent::destroyCalls = 0;
  TestComponent c;
  c.FBDelete();
  EXPECT_TRUE(c.sawDestroying);
  EXPECT_TRUE(c.GetObjectStatus(kFBStatusDestroying));
  c.FBDelete();  // no-op
  EXPECT_EQ(TestComponent::destroyCalls, 1);
}

TEST(FBComponentTest, ObjectStatusBits) {
  FBComponent c;
  EXPECT_TRUE(c.GetObjectStatus(kFBStatusNone));
  EXPECT_FALSE(c.GetObjectStatus(kFBStatusCreating));
  c.SetObjectStatus(kFBStatusCreating, true);
  c.SetObjectStatus(kFBStatusMerging, true);
  EXPECT_TRUE(c.GetObjectStatus(kFBStatusCreating));
  EXPECT_TRUE(c.GetObjectStatus(kFBStatusMerging));
  EXPECT_FALSE(c.GetObjectStatus(kFBStatusDestroying));
  EXPECT_FALSE(c.GetObjectStatus(kFBStatusNone));
  c.SetObjectStatus(kFBStatusCreating, false);
  EXPECT_FALSE(c.GetObjectStatus(kFBStatusCreating));
  // The numeric values other Parts rely on.
  EXPECT_EQ(static_cast<int>(kFBStatusCreating), 1);
  EXPECT_EQ(static_cast<int>(kFBStatusDestroying), 8);
  EXPECT_EQ(static_cast<int>(kFBStatusMerging), 16);
}

TEST(FBComponentTest, LabelNameWithNamespace) {
  FBComponent c("Bob:RootNode", nullptr);
  EXPECT_EQ(c.GetNamespace(), "Bob");
  EXPECT_EQ(c.Name.Get(), "RootNode");
  EXPECT_EQ(c.LongName.Get(), "Bob:RootNode");

  c.Name = "Hips";
  EXPECT_EQ(c.LongName.Get(), "Bob:Hips");

  c.LongName = "Orbel";
  EXPECT_EQ(c.GetNamespace(), "");
  EXPECT_EQ(c.LongName.Get(), "Orbel");

  c.LongName = "a:b:c";  // split at the first ':'
  EXPECT_EQ(c.GetNamespace(), "a");
  EXPECT_EQ(c.Name.Get(), "b:c");
  EXPECT_EQ(c.GetLabelName(), "a:b:c");

  c.SetLabelName(nullptr);
  EXPECT_EQ(c.GetLabelName(), "");
}

// Assigning Name keeps the label's namespace and ':' exactly as written;
// LongName splits again at the first ':'.
TEST(FBComponentTest, NameAssignmentKeepsTheNamespace) {
  struct Row {
    const char* label;
    const char* name;
    const char* longName;
    const char* nameSpace;
  };
  const Row rows[] = {
      {"Bob:RootNode", "Hips", "Bob:Hips", "Bob"},
      {":RootNode", "Hips", ":Hips", ""},
      {"RootNode", "x:y", "x:y", ""},
      {"a:b:c", "d", "a:d", "a"},
      {"Bob:", "A_name_longer_than_a_short_string", "Bob:A_name_longer_than_a_short_string", "Bob"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    FBComponent c(row.label, nullptr);
    c.Name = row.name;
    EXPECT_EQ(c.Name.Get(), row.name);
    EXPECT_EQ(c.LongName.Get(), row.longName);
    EXPECT_EQ(c.GetNamespace(), row.nameSpace);
  }
}

// One writer flips the label between two long ones; readers must see one of
// them whole, its parts agreeing. Under the tsan preset this also shows the
// absence of races.
TEST(FBComponentTest, ConcurrentLabelReadsNeverTear) {
  const std::string a = "Subject_Number_One:" + std::string(40, 'a');
  const std::string b = "Other:" + std::string(90, 'b');
  FBComponent c(a.c_str(), nullptr);
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::thread reader([&] {
    while (!stop.load()) {
      const std::string label = c.LongName.Get().str();
      const std::string name = c.Name.Get().str();
      if (label != a && label != b) bad.fetch_add(1);
      if (name != a.substr(a.find(':') + 1) && name != b.substr(b.find(':') + 1)) bad.fetch_add(1);
    }
  });
  for (int i = 0; i < 20000; ++i) c.LongName = (i % 2 ? a : b).c_str();
  stop = true;
  reader.join();
  EXPECT_EQ(bad.load(), 0);
}

TEST(FBComponentTest, HandleMapsBackWhileAlive) {
  auto* c = new TestComponent("h");
  const HIObject handle = c->GetHIObject();
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(FBGetFBObject(handle, false), c);
  delete c;
  EXPECT_EQ(FBGetFBObject(handle, false), nullptr);
  EXPECT_EQ(FBGetFBObject(nullptr), nullptr);
  int notAComponent = 0;
  EXPECT_EQ(FBGetFBObject(&notAComponent), nullptr);
}

TEST(FBComponentTest, TypeNumbersAndMembership) {
  TestComponent c;
  EXPECT_STREQ(c.ClassName(), "TestComponent");
  EXPECT_EQ(c.GetTypeId(), TestComponent::TypeInfo);
  EXPECT_TRUE(c.Is(TestComponent::TypeInfo));
  EXPECT_TRUE(c.Is(FBComponent::TypeInfo));
  EXPECT_TRUE(c.Is(FBPlug::TypeInfo));
  EXPECT_FALSE(c.Is(-5));
  FBComponent base;
  EXPECT_FALSE(base.Is(TestComponent::TypeInfo));
  EXPECT_NE(FBComponent::TypeInfo, FBPlug::TypeInfo);
  EXPECT_LT(TestComponent::TypeInfo, FBPlug::mGlobalTypeInfo);
}

}  // namespace
