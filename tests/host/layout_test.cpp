// Region resolution: a table of attachment cases, each checked against the
// pixels a person would measure on the panel.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fbsdk/fbcontrols.h"
#include "fbsdk/fblayout.h"

namespace {

struct RuleSpec {
  int offset;
  FBAttachType type;
  const char* relative;
  float multiplier;
};

struct RegionSpec {
  const char* name;
  RuleSpec x, y, w, h;
};

struct Expected {
  int x, y, width, height;
  bool placed;
};

struct LayoutCase {
  const char* name;
  std::vector<RegionSpec> regions;  // the last one is checked
  Expected want;
};

void Add(FBLayout& layout, const RegionSpec& r) {
  ASSERT_TRUE(layout.AddRegion(r.name, r.name, r.x.offset, r.x.type, r.x.relative, r.x.multiplier,
                               r.y.offset, r.y.type, r.y.relative, r.y.multiplier, r.w.offset,
                               r.w.type, r.w.relative, r.w.multiplier, r.h.offset, r.h.type,
                               r.h.relative, r.h.multiplier))
      << r.name;
}

constexpr FBAttachType L = kFBAttachLeft, R = kFBAttachRight, T = kFBAttachTop, B = kFBAttachBottom,
                       W = kFBAttachWidth, H = kFBAttachHeight, C = kFBAttachCenter,
                       N = kFBAttachNone;

// The label every row of a settings page starts with: 4 px in, 4 px down,
// 100 x 18.
const RegionSpec kLabel = {"Label", {4, L, "", 1}, {4, T, "", 1}, {100, N, "", 1}, {18, N, "", 1}};

class RegionResolutionTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(RegionResolutionTest, PlacesTheRegion) {
  FBLayout layout;
  for (const auto& r : GetParam().regions) Add(layout, r);
  const auto rects = layout.Resolve(500, 300);
  const auto& got = rects.back();
  const Expected& want = GetParam().want;
  EXPECT_EQ(got.error.empty(), want.placed) << got.error;
  EXPECT_EQ(got.x, want.x);
  EXPECT_EQ(got.y, want.y);
  EXPECT_EQ(got.width, want.width);
  EXPECT_EQ(got.height, want.height);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RegionResolutionTest,
    ::testing::Values(
        LayoutCase{"label_at_layout_corner", {kLabel}, {4, 4, 100, 18, true}},
        // The edit beside its label: 4 px right of the label's right edge, at
        // its top, 150 wide, as high as the label.
        LayoutCase{
            "edit_right_of_label",
            {kLabel,
             {"Edit", {4, R, "Label", 1}, {0, T, "Label", 1}, {150, N, "", 1}, {0, H, "Label", 1}}},
            {108, 4, 150, 18, true}},
        LayoutCase{
            "row_below",
            {kLabel, {"Next", {4, L, "", 1}, {4, B, "Label", 1}, {100, N, "", 1}, {18, N, "", 1}}},
            {4, 26, 100, 18, true}},
        LayoutCase{"same_left_as_other",
                   {kLabel,
                    {"Col", {0, L, "Label", 1}, {0, B, "Label", 1}, {10, N, "", 1}, {1, N, "", 1}}},
                   {4, 22, 10, 1, true}},
        LayoutCase{"width_to_layout_right_edge",
                   {{"Strip", {5, L, "", 1}, {0, T, "", 1}, {0, R, "", 1}, {25, N, "", 1}}},
                   {5, 0, 495, 25, true}},
        LayoutCase{
            "filling_below_with_margins",
            {{"Strip", {5, L, "", 1}, {0, T, "", 1}, {0, R, "", 1}, {25, N, "", 1}},
             {"Main", {5, L, "Strip", 1}, {5, B, "Strip", 1}, {-5, R, "Strip", 1}, {-5, B, "", 1}}},
            {10, 30, 485, 265, true}},
        LayoutCase{"none_width_multiplier_scales_the_offset",
                   {{"Wide", {4, L, "", 1}, {4, T, "", 1}, {250, N, "", 2.0f}, {18, N, "", 1}}},
                   {4, 4, 500, 18, true}},
        LayoutCase{
            "height_of_other_plus_offset",
            {kLabel, {"Tall", {0, L, "", 1}, {0, T, "", 1}, {1, N, "", 1}, {7, H, "Label", 1}}},
            {0, 0, 1, 25, true}},
        LayoutCase{
            "width_of_other_times_half",
            {kLabel, {"Half", {0, L, "", 1}, {0, T, "", 1}, {0, W, "Label", 0.5f}, {1, N, "", 1}}},
            {0, 0, 50, 1, true}},
        LayoutCase{"edge_multiplier_splits_the_layout",
                   {{"RightHalf", {0, R, "", 0.5f}, {0, T, "", 1}, {0, R, "", 1}, {0, B, "", 1}}},
                   {250, 0, 250, 300, true}},
        LayoutCase{"centred",
                   {{"Mid", {-10, C, "", 1}, {-5, C, "", 1}, {20, N, "", 1}, {10, N, "", 1}}},
                   {240, 145, 20, 10, true}},
        LayoutCase{
            "none_position_ignores_reference",
            {kLabel, {"Abs", {7, N, "Label", 1}, {9, N, "Label", 1}, {1, N, "", 1}, {1, N, "", 1}}},
            {7, 9, 1, 1, true}},
        LayoutCase{"negative_size_is_zero",
                   {{"Inverted", {100, L, "", 1}, {0, T, "", 1}, {50, L, "", 1}, {0, T, "", 1}}},
                   {100, 0, 0, 0, true}},
        // "Below" is checked; it refers to "Early", which refers to the later "Label".
        LayoutCase{
            "refers_to_later_region",
            {{"Early", {4, R, "Label", 1}, {0, T, "Label", 1}, {10, N, "", 1}, {0, H, "Label", 1}},
             kLabel,
             {"Below", {0, L, "Early", 1}, {0, B, "Early", 1}, {10, N, "", 1}, {10, N, "", 1}}},
            {108, 22, 10, 10, true}},
        LayoutCase{"unknown_reference_is_unplaced",
                   {{"Lost", {4, R, "Nowhere", 1}, {0, T, "", 1}, {10, N, "", 1}, {10, N, "", 1}}},
                   {0, 0, 0, 0, false}},
        LayoutCase{"circle_is_unplaced",
                   {{"A", {0, R, "B", 1}, {0, T, "", 1}, {10, N, "", 1}, {10, N, "", 1}},
                    {"B", {0, R, "A", 1}, {0, T, "", 1}, {10, N, "", 1}, {10, N, "", 1}}},
                   {0, 0, 0, 0, false}}),
    [](const ::testing::TestParamInfo<LayoutCase>& info) { return info.param.name; });

TEST(RegionResolutionTest, ForwardReferenceResolvesTheEarlierRegion) {
  FBLayout layout;
  Add(layout,
      {"Early", {4, R, "Label", 1}, {0, T, "Label", 1}, {10, N, "", 1}, {0, H, "Label", 1}});
  Add(layout, kLabel);
  const auto rects = layout.Resolve(500, 300);
  EXPECT_TRUE(rects[0].error.empty());
  EXPECT_EQ(rects[0].x, 108);
  EXPECT_EQ(rects[0].y, 4);
  EXPECT_EQ(rects[0].height, 18);
}

TEST(RegionResolutionTest, UnplacedRegionsSayWhy) {
  FBLayout layout;
  Add(layout, {"A", {0, R, "B", 1}, {0, T, "", 1}, {10, N, "", 1}, {10, N, "", 1}});
  Add(layout, {"B", {0, R, "A", 1}, {0, T, "", 1}, {10, N, "", 1}, {10, N, "", 1}});
  Add(layout, {"C", {0, R, "Gone", 1}, {0, T, "", 1}, {10, N, "", 1}, {10, N, "", 1}});
  Add(layout, {"D", {0, R, "C", 1}, {0, T, "", 1}, {10, N, "", 1}, {10, N, "", 1}});
  const auto rects = layout.Resolve(100, 100);
  EXPECT_NE(rects[0].error.find("refer back"), std::string::npos) << rects[0].error;
  EXPECT_NE(rects[2].error.find("'Gone'"), std::string::npos) << rects[2].error;
  EXPECT_NE(rects[3].error.find("'C'"), std::string::npos) << rects[3].error;
}

TEST(RegionResolutionTest, RefusesBadRegions) {
  FBLayout layout;
  Add(layout, kLabel);
  // A duplicate name, an empty name, and attach types that do not fit their rule.
  EXPECT_FALSE(layout.AddRegion("Label", "", 0, L, "", 1, 0, T, "", 1, 1, N, "", 1, 1, N, "", 1));
  EXPECT_FALSE(layout.AddRegion("", "", 0, L, "", 1, 0, T, "", 1, 1, N, "", 1, 1, N, "", 1));
  EXPECT_FALSE(layout.AddRegion(nullptr, "", 0, L, "", 1, 0, T, "", 1, 1, N, "", 1, 1, N, "", 1));
  EXPECT_FALSE(layout.AddRegion("X1", "", 0, T, "", 1, 0, T, "", 1, 1, N, "", 1, 1, N, "", 1));
  EXPECT_FALSE(layout.AddRegion("X2", "", 0, L, "", 1, 0, H, "", 1, 1, N, "", 1, 1, N, "", 1));
  EXPECT_FALSE(layout.AddRegion("X3", "", 0, L, "", 1, 0, T, "", 1, 1, H, "", 1, 1, N, "", 1));
  EXPECT_FALSE(layout.AddRegion("X4", "", 0, L, "", 1, 0, T, "", 1, 1, N, "", 1, 1, W, "", 1));
  EXPECT_FALSE(layout.AddRegion("X5", "", 0, static_cast<FBAttachType>(42), "", 1, 0, T, "", 1, 1,
                                N, "", 1, 1, N, "", 1));
  EXPECT_EQ(layout.Regions().size(), 1u);
}

TEST(RegionResolutionTest, ControlsSitInOneRegionAtATime) {
  FBLayout layout;
  Add(layout, kLabel);
  Add(layout, {"Other", {0, L, "", 1}, {0, T, "", 1}, {1, N, "", 1}, {1, N, "", 1}});
  FBLabel label;
  EXPECT_TRUE(layout.SetControl("Label", label));
  EXPECT_EQ(layout.GetControl("Label"), &label);
  EXPECT_TRUE(layout.SetControl("Other", &label));
  EXPECT_EQ(layout.GetControl("Label"), nullptr);
  EXPECT_EQ(layout.GetControl("Other"), &label);
  EXPECT_FALSE(layout.SetControl("Missing", label));
  EXPECT_FALSE(layout.SetControl("Other", nullptr));
  EXPECT_FALSE(layout.SetControl("Other", layout));
  EXPECT_TRUE(layout.ClearControl("Other"));
  EXPECT_EQ(layout.GetControl("Other"), nullptr);
  EXPECT_FALSE(layout.SetBorder("Missing", kFBStandardBorder, false, true, 1, 0, 90.0f, 0));
  EXPECT_TRUE(layout.SetBorder("Other", kFBStandardBorder, false, true, 1, 0, 90.0f, 0));

  layout.SetLayoutSize(500, 300);
  int x = 0, y = 0, w = 0, h = 0;
  ASSERT_TRUE(layout.GetRegionPositions("Label", true, &x, &y, &w, &h));
  EXPECT_EQ((std::vector<int>{x, y, w, h}), (std::vector<int>{4, 4, 100, 18}));
}

TEST(ListChoiceTest, IndexStaysInsideTheItems) {
  FBList list;
  EXPECT_EQ(list.ItemIndex.Get(), -1);
  EXPECT_EQ(list.Items.Add("Y-Up", 0), 0);
  EXPECT_EQ(list.ItemIndex.Get(), 0) << "a list shows its first item";
  EXPECT_EQ(list.Items.Add("Z-Up", 1), 1);
  EXPECT_TRUE(list.ItemIndex.Set(1));
  EXPECT_FALSE(list.ItemIndex.Set(2));
  EXPECT_FALSE(list.ItemIndex.Set(-2));
  EXPECT_EQ(list.ItemIndex.Get(), 1);
  list.Selected(5, true);  // outside: nothing
  EXPECT_EQ(list.ItemIndex.Get(), 1);
  list.Selected(0, true);
  EXPECT_TRUE(list.IsSelected(0));
  list.Selected(1, false);  // not the chosen one: nothing
  EXPECT_EQ(list.ItemIndex.Get(), 0);
  list.Selected(0, false);
  EXPECT_EQ(list.ItemIndex.Get(), -1);
  EXPECT_EQ(list.Items.GetReferenceAt(1), 1);
  EXPECT_EQ(list.Items.GetReferenceAt(7), 0);
  EXPECT_EQ(list.Items.GetAt(7), FBString(""));
  list.ItemIndex = 1;
  EXPECT_TRUE(list.Items.RemoveAt(1));
  EXPECT_EQ(list.ItemIndex.Get(), 0) << "an index past the items falls back";
  list.Items.Clear();
  EXPECT_EQ(list.ItemIndex.Get(), -1);
}

}  // namespace
