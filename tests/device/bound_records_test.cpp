// The walk that pairs reader records with the device's nodes on every pass:
// a missed or wrong pair is a node that stops moving or moves with another
// segment's values.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "orbel_bound_records.h"

namespace {

struct Node {
  std::string name;
};

using Records = std::map<FBString, int>;
using Nodes = std::map<FBString, Node*>;

struct WalkCase {
  const char* what;
  std::vector<std::string> records;
  std::vector<std::string> first;
  std::vector<std::string> second;
  // "key|first/second" for each visit of both maps, '-' for a missing node.
  std::vector<std::string> expected;
  // The keys visited with the first map alone.
  std::vector<std::string> expectedFirst;
};

class BoundRecordsTest : public ::testing::TestWithParam<WalkCase> {
 protected:
  Nodes Make(const std::vector<std::string>& names) {
    Nodes nodes;
    for (const std::string& name : names) {
      mStore.push_back(std::make_unique<Node>(Node{name}));
      nodes.emplace(FBString(name.c_str()), mStore.back().get());
    }
    return nodes;
  }
  std::vector<std::unique_ptr<Node>> mStore;
};

TEST_P(BoundRecordsTest, VisitsEveryKeyWithANodeInKeyOrder) {
  const WalkCase& c = GetParam();
  Records records;
  for (const std::string& key : c.records) records.emplace(FBString(key.c_str()), 0);
  const Nodes first = Make(c.first);
  const Nodes second = Make(c.second);

  std::vector<std::string> pairs;
  orbel::device::ForEachBoundRecord(
      records, first, second, [&](const auto& entry, Node* a, Node* b) {
        pairs.push_back(entry.first.str() + "|" + (a ? a->name : "-") + "/" + (b ? b->name : "-"));
      });
  EXPECT_EQ(pairs, c.expected) << c.what;

  // The one-map walk visits exactly the keys the first map has.
  std::vector<std::string> single;
  orbel::device::ForEachBoundRecord(records, first, [&](const auto& entry, Node* node) {
    ASSERT_EQ(entry.first.str(), node->name);
    single.push_back(node->name);
  });
  EXPECT_EQ(single, c.expectedFirst) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Cases, BoundRecordsTest,
                         ::testing::Values(WalkCase{"nothing bound", {"A", "B"}, {}, {}, {}, {}},
                                           WalkCase{"no records", {}, {"A"}, {"A"}, {}, {}},
                                           WalkCase{"every record bound",
                                                    {"A", "B"},
                                                    {"A", "B"},
                                                    {"A", "B"},
                                                    {"A|A/A", "B|B/B"},
                                                    {"A", "B"}},
                                           WalkCase{"nodes before, between and after the records",
                                                    {"B", "D"},
                                                    {"A", "B", "C", "D", "E"},
                                                    {"B", "C"},
                                                    {"B|B/B", "D|D/-"},
                                                    {"B", "D"}},
                                           WalkCase{"a record with only its second node",
                                                    {"B", "C"},
                                                    {"C"},
                                                    {"B"},
                                                    {"B|-/B", "C|C/-"},
                                                    {"C"}},
                                           WalkCase{"byte order: Unlabeled:10 before Unlabeled:2",
                                                    {"Unlabeled:0", "Unlabeled:10", "Unlabeled:2"},
                                                    {"Bob:Hips", "Unlabeled:10", "Unlabeled:2"},
                                                    {},
                                                    {"Unlabeled:10|Unlabeled:10/-",
                                                     "Unlabeled:2|Unlabeled:2/-"},
                                                    {"Unlabeled:10", "Unlabeled:2"}}));

}  // namespace
