// The key rule and the scene description, against the scripted client.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "reader_fixture.h"

namespace orbel::testing {
namespace {

struct NameRow {
  const char* name;
  const char* subject;
  bool strip;
  const char* expected;
};

class QualifiedNameTest : public ::testing::TestWithParam<NameRow> {};

TEST_P(QualifiedNameTest, Key) {
  const NameRow& row = GetParam();
  EXPECT_EQ(OrbelDataReader::QualifiedName(row.name, row.subject, row.strip), row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, QualifiedNameTest,
    ::testing::Values(NameRow{"Hips", "Bob", true, "Bob:Hips"},
                      NameRow{"Hips", "Bob", false, "Bob:Bob_Hips"},
                      NameRow{"Bob:Hips", "Bob", true, "Bob:Hips"},
                      NameRow{"Bob:Hips", "Bob", false, "Bob:Bob_Hips"},
                      NameRow{"Other:Hips", "Bob", true, "Bob:Other:Hips"},
                      NameRow{"Other:Hips", "Bob", false, "Bob:Other:Bob_Hips"},
                      // A namespace that only starts like the subject is another namespace.
                      NameRow{"Bobby:Hips", "Bob", true, "Bob:Bobby:Hips"},
                      NameRow{"Bo:Hips", "Bob", false, "Bob:Bo:Bob_Hips"},
                      // The subject goes before the part after the last ':'.
                      NameRow{"Bob:Rig:Hips", "Bob", false, "Bob:Rig:Bob_Hips"},
                      NameRow{"Bob:", "Bob", false, "Bob:Bob_"}, NameRow{"Hips", "", true, ":Hips"},
                      NameRow{":Hips", "", false, ":_Hips"}));

using DescriptionTest = ReaderTest;

TEST_F(DescriptionTest, SegmentsMarkersAndParentKeys) {
  script.subjects = {Bob()};
  ConnectAndDescribe(/*strip=*/false);

  EXPECT_EQ(reader->subjectNames, std::vector<FBString>{"Bob"});
  ASSERT_EQ(reader->segments.size(), 3u);
  const SegmentRecord& hips = reader->segments.at("Bob:Bob_Hips");
  EXPECT_EQ(hips.subject, "Bob");
  EXPECT_EQ(hips.name, "Hips");
  EXPECT_TRUE(hips.root);
  EXPECT_EQ(hips.parentKey, "Bob:Bob_Hips") << "a root is its own parent";
  const SegmentRecord& head = reader->segments.at("Bob:Bob_Head");
  EXPECT_FALSE(head.root);
  EXPECT_EQ(head.parentKey, "Bob:Bob_Spine");
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(head.translation[i], 0.0);
    EXPECT_EQ(head.rotation[i], 0.0);
  }
  ASSERT_EQ(reader->markers.size(), 2u);
  EXPECT_EQ(reader->markers.at("Bob:Bob_LFHD").name, "LFHD");
  EXPECT_EQ(reader->markers.at("Bob:Bob_LFHD").subject, "Bob");
}

TEST_F(DescriptionTest, StripOptionKeysWithoutTheCharacterName) {
  script.subjects = {Bob()};
  ConnectAndDescribe(/*strip=*/true);
  EXPECT_EQ(reader->segments.count("Bob:Hips"), 1u);
  EXPECT_EQ(reader->segments.at("Bob:Spine").parentKey, "Bob:Hips");
  EXPECT_EQ(reader->markers.count("Bob:RFHD"), 1u);
}

TEST_F(DescriptionTest, SubjectWalkStopsAtAnEmptyName) {
  script.subjects = {Subject("A", {{"Root", "", {}, {0, 0, 0, 1}}}), Subject("", {}),
                     Subject("B", {{"Root", "", {}, {0, 0, 0, 1}}})};
  ConnectAndDescribe();
  EXPECT_EQ(reader->subjectNames, std::vector<FBString>{"A"});
  EXPECT_EQ(reader->segments.size(), 1u);
  EXPECT_EQ(reader->segments.count("B:Root"), 0u);
}

TEST_F(DescriptionTest, KeysWalkInByteOrder) {
  // 0xC3 sorts after every ASCII letter when bytes compare unsigned.
  script.subjects = {Subject("b", {{"x", "", {}, {0, 0, 0, 1}}}),
                     Subject("\xC3\xA9", {{"x", "", {}, {0, 0, 0, 1}}}),
                     Subject("B", {{"x", "", {}, {0, 0, 0, 1}}})};
  ConnectAndDescribe();
  std::vector<std::string> keys;
  for (const auto& entry : reader->segments) keys.push_back(entry.first.str());
  EXPECT_EQ(keys, (std::vector<std::string>{"B:x", "b:x", "\xC3\xA9:x"}));
  EXPECT_EQ(reader->subjectNames, (std::vector<FBString>{"b", "\xC3\xA9", "B"}))
      << "subjects keep the server's order";
}

TEST_F(DescriptionTest, LaterRecordWithTheSameKeyWins) {
  script.subjects = {
      Subject("Bob", {{"Hips", "", {}, {0, 0, 0, 1}}, {"Bob:Hips", "", {}, {0, 0, 0, 1}}})};
  ConnectAndDescribe(/*strip=*/true);
  ASSERT_EQ(reader->segments.size(), 1u);
  EXPECT_EQ(reader->segments.at("Bob:Hips").name, "Bob:Hips");
}

TEST_F(DescriptionTest, NoSubjectsGivesOnlyUnlabelledRecordsInKeyOrder) {
  ConnectAndDescribe();
  EXPECT_TRUE(reader->subjectNames.empty());
  EXPECT_TRUE(reader->segments.empty());
  EXPECT_TRUE(reader->markers.empty());
  ASSERT_EQ(reader->unlabeledMarkers.size(), 100u);
  std::vector<std::string> firstKeys;
  for (const auto& entry : reader->unlabeledMarkers) {
    if (firstKeys.size() == 4) break;
    firstKeys.push_back(entry.first.str());
  }
  EXPECT_EQ(firstKeys, (std::vector<std::string>{"Unlabeled:0", "Unlabeled:1", "Unlabeled:10",
                                                 "Unlabeled:11"}));
  EXPECT_EQ(reader->unlabeledMarkers.rbegin()->first, "Unlabeled:99");
  const MarkerRecord& seven = reader->unlabeledMarkers.at("Unlabeled:7");
  EXPECT_EQ(seven.subject, "Unlabeled");
  EXPECT_EQ(seven.name, "7");
}

struct CountRow {
  const char* name;
  int setting;
  std::size_t records;
};

class UnlabeledCountTest : public ReaderTest, public ::testing::WithParamInterface<CountRow> {};

TEST_P(UnlabeledCountTest, RecordsMadeWithinTheBound) {
  reader->unlabeledMarkerCount = GetParam().setting;
  ConnectAndDescribe();
  EXPECT_EQ(reader->unlabeledMarkers.size(), GetParam().records);
  EXPECT_EQ(reader->unlabeledMarkerCount, GetParam().setting) << "the setting itself is kept";
}

INSTANTIATE_TEST_SUITE_P(
    Counts, UnlabeledCountTest,
    ::testing::Values(CountRow{"zero", 0, 0}, CountRow{"three", 3, 3}, CountRow{"negative", -5, 0},
                      CountRow{"int_min", INT_MIN, 0},
                      CountRow{"at_ceiling", OrbelDataReader::kMaxUnlabeledMarkerCount, 100000},
                      CountRow{"above_ceiling", 100001, 100000},
                      CountRow{"int_max", INT_MAX, 100000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DescriptionTest, EveryCallReplacesTheWholeDescription) {
  script.subjects = {Bob(), Subject("Ann", {{"Root", "", {}, {0, 0, 0, 1}}})};
  ConnectAndDescribe();
  script.subjects = {Subject("Ann", {{"Root", "", {}, {0, 0, 0, 1}}})};
  reader->unlabeledMarkerCount = 2;
  ASSERT_TRUE(reader->ReadDescription(true));
  EXPECT_EQ(reader->subjectNames, std::vector<FBString>{"Ann"});
  EXPECT_EQ(reader->segments.size(), 1u);
  EXPECT_TRUE(reader->markers.empty());
  EXPECT_EQ(reader->unlabeledMarkers.size(), 2u);

  reader->ClearDescription();
  EXPECT_TRUE(reader->subjectNames.empty());
  EXPECT_TRUE(reader->segments.empty());
  EXPECT_TRUE(reader->unlabeledMarkers.empty());
}

// A refused call must leave the previous description, samples included.
class RefusedDescriptionTest : public ReaderTest {
 protected:
  void SetUp() override {
    ReaderTest::SetUp();
    script.subjects = {Bob()};
    script.subjects[0].segments[0].translation = {1, 2, 3};
    ConnectAndDescribe();
    ASSERT_TRUE(reader->ReadFrame(FBTime::Zero));
    script.subjects = {Subject("Other", {{"Root", "", {}, {0, 0, 0, 1}}})};
  }

  void ExpectOldRecords() {
    EXPECT_EQ(reader->subjectNames, std::vector<FBString>{"Bob"});
    ASSERT_EQ(reader->segments.count("Bob:Hips"), 1u);
    EXPECT_EQ(reader->segments.at("Bob:Hips").translation[2], 3.0);
    EXPECT_EQ(reader->unlabeledMarkers.size(), 100u);
  }
};

TEST_F(RefusedDescriptionTest, NoNewFrame) {
  script.frameResult = sdk::Result::NoFrame;
  EXPECT_FALSE(reader->ReadDescription(true));
  ExpectOldRecords();
}

TEST_F(RefusedDescriptionTest, OptionsNotApplied) {
  script.acknowledgeKinds = false;
  reader->SetMarkerData(false);
  EXPECT_FALSE(reader->ReadDescription(true));
  ExpectOldRecords();
}

TEST_F(RefusedDescriptionTest, ConnectionLost) {
  script.connected = false;
  EXPECT_FALSE(reader->ReadDescription(true));
  ExpectOldRecords();
}

TEST_F(RefusedDescriptionTest, DataLockHeldElsewhereForLongerThanTheWait) {
  bool answered = true;
  {
    DataLockHolder holder(*reader);
    ASSERT_TRUE(holder.held());
    answered = reader->ReadDescription(true);
  }
  EXPECT_FALSE(answered);
  ExpectOldRecords();
  EXPECT_TRUE(reader->ReadDescription(true)) << "the lock is free again";
}

}  // namespace
}  // namespace orbel::testing
