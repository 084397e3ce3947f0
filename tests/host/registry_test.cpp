#include <string>

#include <gtest/gtest.h>

#include <fbhost/registry.h>
#include <fbsdk/fbregistry.h>

namespace {

HIObject gLastOwner = nullptr;
std::string gLastName;
void* gLastData = nullptr;
int gAnswer = 0;

HIObject RecordingFactory(HIObject owner, const char* name, void* data) {
  gLastOwner = owner;
  gLastName = name ? name : "";
  gLastData = data;
  return &gAnswer;
}

HIObject OtherFactory(HIObject, const char*, void*) { return nullptr; }

TEST(RegistryTest, RecordsEveryCallInOrder) {
  const auto before = fbhost::Registrations().size();
  EXPECT_TRUE(FBObject_Register("Test/RegistryA", "one", "first", RecordingFactory, true, "a.tif"));
  EXPECT_TRUE(FBObject_Register("Test/RegistryA", "two", nullptr, OtherFactory, false, nullptr));
  const auto all = fbhost::Registrations();
  ASSERT_EQ(all.size(), before + 2);
  EXPECT_EQ(all[before].group, "Test/RegistryA");
  EXPECT_EQ(all[before].entry, "one");
  EXPECT_EQ(all[before].description, "first");
  EXPECT_EQ(all[before].icon, "a.tif");
  EXPECT_TRUE(all[before].flag);
  EXPECT_EQ(all[before + 1].description, "");
  EXPECT_EQ(all[before + 1].icon, "");
  EXPECT_FALSE(all[before + 1].flag);
  const auto group = fbhost::Registrations("Test/RegistryA");
  ASSERT_EQ(group.size(), 2u);
  EXPECT_EQ(group[1].entry, "two");
}

TEST(RegistryTest, RepeatIsRecordedAnsweredFalseFirstWins) {
  EXPECT_TRUE(FBObject_Register("Test/RegistryB", "dup", "first", RecordingFactory, true, ""));
  EXPECT_FALSE(FBObject_Register("Test/RegistryB", "dup", "second", OtherFactory, true, ""));
  EXPECT_EQ(fbhost::RegistrationCount("Test/RegistryB", "dup"), 2u);
  fbhost::Registration r;
  ASSERT_TRUE(fbhost::FindRegistration("Test/RegistryB", "dup", &r));
  EXPECT_EQ(r.description, "first");
  EXPECT_EQ(r.factory, &RecordingFactory);
}

TEST(RegistryTest, InvalidCallsRecordNothing) {
  const auto before = fbhost::Registrations().size();
  EXPECT_FALSE(FBObject_Register(nullptr, "e", "", RecordingFactory, true, ""));
  EXPECT_FALSE(FBObject_Register("", "e", "", RecordingFactory, true, ""));
  EXPECT_FALSE(FBObject_Register("g", nullptr, "", RecordingFactory, true, ""));
  EXPECT_FALSE(FBObject_Register("g", "", "", RecordingFactory, true, ""));
  EXPECT_FALSE(FBObject_Register("g", "e", "", nullptr, true, ""));
  EXPECT_EQ(fbhost::Registrations().size(), before);
}

TEST(RegistryTest, CallFactoryPassesArgumentsAndAnswersHandle) {
  ASSERT_TRUE(FBObject_Register("Test/RegistryC", "make", "", RecordingFactory, true, ""));
  int owner = 0, data = 0;
  EXPECT_EQ(fbhost::CallFactory("Test/RegistryC", "make", &owner, "thing", &data), &gAnswer);
  EXPECT_EQ(gLastOwner, &owner);
  EXPECT_EQ(gLastName, "thing");
  EXPECT_EQ(gLastData, &data);
  EXPECT_EQ(fbhost::CallFactory("Test/RegistryC", "absent", nullptr, nullptr, nullptr), nullptr);
  EXPECT_FALSE(fbhost::FindRegistration("Test/RegistryC", "absent", nullptr));
}

}  // namespace
