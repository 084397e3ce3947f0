#include <gtest/gtest.h>

#include <fbhost/components.h>
#include <fbhost/progress.h>
#include <fbsdk/fbprogress.h>

namespace {

using Kind = fbhost::ProgressEvent::Kind;

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fbhost::SetProgressEcho(false);
    fbhost::ClearProgressRecord();
  }
  void TearDown() override { fbhost::SetProgressEcho(true); }
};

TEST_F(ProgressTest, RecordsTitleThenMessagesThenClose) {
  const auto live = fbhost::LiveComponentCount();
  {
    FBProgress progress;
    progress.Caption = "Orbel Optical device";
    progress.Text = "Initializing device...";
    progress.Text = "Initializing device...";  // each assignment is a step
    progress.Percent = 150;
  }
  EXPECT_EQ(fbhost::LiveComponentCount(), live);
  const auto record = fbhost::ProgressRecord();
  ASSERT_EQ(record.size(), 6u);
  EXPECT_EQ(record[0].kind, Kind::Open);
  EXPECT_EQ(record[1].kind, Kind::Caption);
  EXPECT_EQ(record[1].caption, "Orbel Optical device");
  EXPECT_EQ(record[2].kind, Kind::Text);
  EXPECT_EQ(record[2].text, "Initializing device...");
  EXPECT_EQ(record[3].kind, Kind::Text);
  EXPECT_EQ(record[4].kind, Kind::Percent);
  EXPECT_EQ(record[4].percent, 100);
  EXPECT_EQ(record[5].kind, Kind::Close);
  EXPECT_EQ(record[5].caption, "Orbel Optical device");
  for (const auto& e : record) EXPECT_EQ(e.box, record[0].box);
}

TEST_F(ProgressTest, DoneClosesOnceAndRefusesLaterSteps) {
  FBProgress progress;
  progress.Caption = "Optical device";
  progress.ProgressDone();
  EXPECT_FALSE(progress.Text.Set("late"));
  progress.ProgressDone();
  const auto record = fbhost::ProgressRecord();
  ASSERT_EQ(record.size(), 3u);
  EXPECT_EQ(record[2].kind, Kind::Close);
}

TEST_F(ProgressTest, BoxesAreNumberedInOpeningOrder) {
  FBProgress a;
  FBProgress b;
  const auto record = fbhost::ProgressRecord();
  ASSERT_EQ(record.size(), 2u);
  EXPECT_EQ(record[1].box, record[0].box + 1);
  EXPECT_FALSE(a.UserRequestCancel());
}

}  // namespace
