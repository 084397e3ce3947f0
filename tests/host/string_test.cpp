#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include <fbsdk/fbstring.h>

namespace {

TEST(FBStringTest, ConstructionAndConversion) {
  FBString empty;
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_STREQ(static_cast<const char*>(empty), "");
  FBString fromNull(static_cast<const char*>(nullptr));
  EXPECT_EQ(fromNull.GetLen(), 0);
  FBString text("localhost");
  EXPECT_EQ(std::strlen(text), 9u);
  FBString fromStd(std::string("801"));
  EXPECT_EQ(fromStd, "801");
  FBString joined("Version: ", "1.0.60794");
  EXPECT_EQ(joined, "Version: 1.0.60794");
}

TEST(FBStringTest, ConcatenationAndComparison) {
  FBString a("Bob");
  FBString b = a + ":" + FBString("RootNode");
  EXPECT_EQ(b, "Bob:RootNode");
  EXPECT_EQ("x" + a, "xBob");
  a += "_Hips";
  EXPECT_EQ(a, "Bob_Hips");
  EXPECT_NE(a, "Bob");
  EXPECT_TRUE(FBString("a") < FBString("b"));
}

TEST(FBStringTest, FindLeftMid) {
  FBString s("Bob 1:RootNode");
  EXPECT_EQ(s.Find(':'), 5);
  EXPECT_EQ(s.Find('?'), -1);
  EXPECT_EQ(s.Left(5), "Bob 1");
  EXPECT_EQ(s.Mid(6), "RootNode");
  EXPECT_EQ(s.Mid(6, 4), "Root");
  EXPECT_EQ(s.Mid(100), "");
  EXPECT_EQ(s.Left(-1), "");
}

}  // namespace
