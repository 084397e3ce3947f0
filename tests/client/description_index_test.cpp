// The client's name lookups: every query of a frame finds its subject,
// segment or marker here, so a wrong answer is a wrong pose.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DescriptionIndex.h"

namespace {

using orbel::client::DescriptionIndex;
using orbel::client::NameTable;

struct TableCase {
  const char* what;
  std::vector<std::string> names;
  std::vector<std::pair<std::string, std::uint32_t>> lookups;  // name, expected
};

class NameTableTest : public ::testing::TestWithParam<TableCase> {};

TEST_P(NameTableTest, FindsTheFirstPositionOfEachName) {
  const TableCase& c = GetParam();
  std::vector<std::string_view> views(c.names.begin(), c.names.end());
  NameTable table;
  table.assign(views, 12345);
  for (const auto& [name, expected] : c.lookups) {
    EXPECT_EQ(table.find(name), expected) << c.what << ": '" << name << "'";
  }
}

const std::uint32_t kNone = NameTable::npos;

INSTANTIATE_TEST_SUITE_P(
    Cases, NameTableTest,
    ::testing::Values(
        TableCase{"empty table", {}, {{"Hips", kNone}, {"", kNone}}},
        TableCase{"repeated names keep the first",
                  {"Hips", "Spine", "Hips", "Spine", "Head"},
                  {{"Hips", 0}, {"Spine", 1}, {"Head", 4}}},
        TableCase{"prefixes and lengths around eight bytes",
                  {"Hip", "Hips", "LeftArm", "LeftArm1", "LeftArm12", "LeftForeArmRoll"},
                  {{"Hip", 0},
                   {"Hips", 1},
                   {"LeftArm", 2},
                   {"LeftArm1", 3},
                   {"LeftArm12", 4},
                   {"LeftForeArmRoll", 5},
                   {"LeftArm123", kNone},
                   {"LeftForeArmRol", kNone},
                   {"hips", kNone}}},
        TableCase{
            "an empty name and names with a zero byte",
            {"", std::string("a\0b", 3), std::string("a\0c", 3)},
            {{"", 0}, {std::string("a\0b", 3), 1}, {std::string("a\0c", 3), 2}, {"a", kNone}}}));

TEST(NameTableTest, FindsEveryOneOfManyNames) {
  std::vector<std::string> names;
  for (int i = 0; i < 3000; ++i) names.push_back("Subject_" + std::to_string(i) + ":Marker");
  std::vector<std::string_view> views(names.begin(), names.end());
  NameTable table;
  table.assign(views, 7);
  for (std::uint32_t i = 0; i < names.size(); ++i) ASSERT_EQ(table.find(names[i]), i) << names[i];
  EXPECT_EQ(table.find("Subject_3000:Marker"), kNone);
}

TEST(DescriptionIndexTest, LaysSubjectsOutInFrameOrder) {
  orbel::protocol::Description d;
  d.id = 9;
  d.subjects.resize(3);
  d.subjects[0].name = "Alice";
  d.subjects[0].segments = {{"Hips", ""}, {"Spine", "Hips"}};
  d.subjects[0].markers = {"LASI", "RASI", "LASI"};
  d.subjects[1].name = "Bob";
  d.subjects[1].segments = {{"Hips", ""}};
  d.subjects[1].markers = {"C7"};
  d.subjects[2].name = "Alice";  // a repeated subject is never found
  d.subjects[2].segments = {{"Root", ""}};
  const auto index = DescriptionIndex::build(std::move(d));
  EXPECT_EQ(index->id(), 9u);
  EXPECT_EQ(index->subject("Alice"), 0u);
  EXPECT_EQ(index->subject("Bob"), 1u);
  EXPECT_EQ(index->subject("Carol"), DescriptionIndex::npos);
  EXPECT_EQ(index->segment(0, "Spine"), 1u);
  EXPECT_EQ(index->segment(1, "Spine"), DescriptionIndex::npos);
  EXPECT_EQ(index->marker(0, "LASI"), 0u);
  EXPECT_EQ(index->marker(0, "RASI"), 1u);
  EXPECT_EQ(index->marker(1, "C7"), 0u);
  EXPECT_EQ(index->firstSegment(1), 2u);
  EXPECT_EQ(index->firstMarker(1), 3u);
  EXPECT_EQ(index->firstSegment(2), 3u);
  EXPECT_EQ(index->segmentTotal(), 4u);
  EXPECT_EQ(index->markerTotal(), 4u);
}

}  // namespace
