// The client's name lookups: every query of a frame finds its subject,
// segment or marker here, so a wrong answer is a wrong pose.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
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

// A caller's name object carries a hint from its last lookup; whatever the
// hint says, the answer must be the plain lookup's.
TEST_P(NameTableTest, HintedLookupsAnswerAsThePlainOne) {
  const TableCase& c = GetParam();
  std::vector<std::string_view> views(c.names.begin(), c.names.end());
  NameTable table;
  table.assign(views, 12345);
  NameTable other;  // another description's table, the same names reversed
  std::vector<std::string_view> reversed(views.rbegin(), views.rend());
  other.assign(reversed, 99);
  for (const auto& [name, expected] : c.lookups) {
    std::atomic<std::uint64_t> hint{0};
    EXPECT_EQ(table.find(name, hint), expected) << c.what << ": '" << name << "'";
    EXPECT_EQ(table.find(name, hint), expected) << c.what << ", hinted: '" << name << "'";
    // The hint of one table, shown to the other, must not be believed, not
    // even by the lookup that takes a hint of its own table without reading
    // the text.
    const std::uint32_t inOther = other.find(name);
    std::atomic<std::uint64_t> shown{hint.load()};
    EXPECT_EQ(other.find(name, hint), inOther) << c.what << ", other table: '" << name << "'";
    EXPECT_EQ(other.findByOwnHint(name, shown), inOther) << c.what << ", other table, own";
    EXPECT_EQ(table.find(name, hint), expected) << c.what << ", back: '" << name << "'";
    EXPECT_EQ(table.findByOwnHint(name, hint), expected) << c.what << ", own: '" << name << "'";
    // Nor a hint that names this table but another position.
    for (std::uint32_t at = 0; at <= views.size(); ++at) {
      const std::uint64_t forged = (hint.load() & ~std::uint64_t{0xFFFFFFFF}) | at;
      std::atomic<std::uint64_t> wrong{forged};
      std::atomic<std::uint64_t> wrongOwn{forged};
      EXPECT_EQ(table.find(name, wrong), expected) << c.what << ", hint at " << at;
      EXPECT_EQ(table.findByOwnHint(name, wrongOwn), expected) << c.what << ", own hint at " << at;
    }
  }
}

TEST(NameTableTest, OneByteDifferencesAtEveryPositionAndLength) {
  // Names of the same length that differ in one byte must never pass for
  // each other, wherever the byte falls in the word-wise comparison.
  for (std::size_t size = 1; size <= 24; ++size) {
    const std::string base(size, 'a');
    std::vector<std::string> names{base};
    for (std::size_t at = 0; at < size; ++at) {
      names.push_back(base);
      names.back()[at] = 'b';
    }
    std::vector<std::string_view> views(names.begin(), names.end());
    NameTable table;
    table.assign(views, size);
    for (std::uint32_t i = 0; i < names.size(); ++i) {
      std::atomic<std::uint64_t> hint{0};
      ASSERT_EQ(table.find(names[i], hint), i) << "size " << size;
      for (std::uint32_t j = 0; j < names.size(); ++j) {
        // The hint points at j; only j == i may be taken from it.
        std::atomic<std::uint64_t> pointing{(hint.load() & ~std::uint64_t{0xFFFFFFFF}) | j};
        ASSERT_EQ(table.find(names[i], pointing), i) << "size " << size << ", hint " << j;
      }
    }
  }
}

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
