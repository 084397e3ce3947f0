// The field store a device writes itself into: kinds kept per value, counts,
// and the neutral answers a reader gets instead of a crash.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "fbhost/fieldstore.h"
#include "fbsdk/fbfbxobject.h"

namespace {

using fbhost::Field;
using fbhost::FieldValue;

// What a device writes: one-text fields, an open field with mixed groups.
void WriteDeviceLike(FBFbxObject& store) {
  store.FieldWriteC("NetworkAddress", "localhost");
  store.FieldWriteBegin("Bones");
  store.FieldWriteC("Bob:Bob_Hips");
  store.FieldWriteD(1.5);
  store.FieldWriteI(1);
  store.FieldWriteEnd();
  store.FieldWriteBegin("Empty");
  store.FieldWriteEnd();
}

TEST(FieldStoreTest, KeepsFieldsValuesAndKindsInOrder) {
  FBFbxObject store;
  WriteDeviceLike(store);
  const std::vector<Field> fields = fbhost::FieldsOf(store);
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[0].name, "NetworkAddress");
  ASSERT_EQ(fields[0].values.size(), 1u);
  EXPECT_EQ(fields[0].values[0].kind, FieldValue::Kind::Text);
  EXPECT_EQ(fields[0].values[0].text, "localhost");
  ASSERT_EQ(fields[1].values.size(), 3u);
  EXPECT_EQ(fields[1].values[0].kind, FieldValue::Kind::Text);
  EXPECT_EQ(fields[1].values[1].kind, FieldValue::Kind::Double);
  EXPECT_EQ(fields[1].values[1].number, 1.5);
  EXPECT_EQ(fields[1].values[2].kind, FieldValue::Kind::Integer);
  EXPECT_EQ(fields[1].values[2].integer, 1);
  EXPECT_TRUE(fields[2].values.empty());
  EXPECT_EQ(fbhost::StrayValueCount(store), 0);
}

TEST(FieldStoreTest, ReadsBackWhatWasWritten) {
  FBFbxObject store;
  WriteDeviceLike(store);
  EXPECT_STREQ(store.FieldReadC("NetworkAddress"), "localhost");
  ASSERT_TRUE(store.FieldReadBegin("Bones"));
  EXPECT_EQ(store.FieldReadGetCount(), 3);
  EXPECT_STREQ(store.FieldReadC(), "Bob:Bob_Hips");
  EXPECT_EQ(store.FieldReadD(), 1.5);
  EXPECT_EQ(store.FieldReadI(), 1);
  store.FieldReadEnd();
  ASSERT_TRUE(store.FieldReadBegin("Empty"));
  EXPECT_EQ(store.FieldReadGetCount(), 0);
  store.FieldReadEnd();
}

// Each row: a read sequence on the field "F" holding C "a", D 2.5, I 7, and
// what every read answers.
struct ReadRow {
  const char* name;
  std::vector<char> reads;        // 'C', 'D' or 'I'
  std::vector<std::string> want;  // as text: C answers, D and I printed
};

std::string Answer(FBFbxObject& store, char kind) {
  switch (kind) {
    case 'C':
      return store.FieldReadC();
    case 'D':
      return std::to_string(store.FieldReadD());
    default:
      return std::to_string(store.FieldReadI());
  }
}

class NeutralReadTest : public ::testing::TestWithParam<ReadRow> {};

TEST_P(NeutralReadTest, AnswersNeutralValuesAndStaysInStep) {
  FBFbxObject store;
  store.FieldWriteBegin("F");
  store.FieldWriteC("a");
  store.FieldWriteD(2.5);
  store.FieldWriteI(7);
  store.FieldWriteEnd();
  ASSERT_TRUE(store.FieldReadBegin("F"));
  for (std::size_t i = 0; i < GetParam().reads.size(); ++i) {
    EXPECT_EQ(Answer(store, GetParam().reads[i]), GetParam().want[i]) << "read #" << i;
  }
}

const std::string kD0 = std::to_string(0.0), kD25 = std::to_string(2.5);

INSTANTIATE_TEST_SUITE_P(
    Rows, NeutralReadTest,
    ::testing::Values(
        ReadRow{"in_kind", {'C', 'D', 'I'}, {"a", kD25, "7"}},
        // A wrong kind answers neutral but takes the value.
        ReadRow{"wrong_kinds_take_the_value", {'D', 'I', 'C'}, {kD0, "0", ""}},
        ReadRow{"skip_then_in_step", {'I', 'D', 'I'}, {"0", kD25, "7"}},
        // Past the end: neutral, and nothing is taken.
        ReadRow{"past_the_end", {'C', 'D', 'I', 'C', 'D', 'I'}, {"a", kD25, "7", "", kD0, "0"}}),
    [](const ::testing::TestParamInfo<ReadRow>& info) { return info.param.name; });

TEST(FieldStoreTest, MissingFieldsAndClosedReadsAnswerNeutralValues) {
  FBFbxObject store;
  WriteDeviceLike(store);
  // The device reads these three without checking that they exist.
  EXPECT_STREQ(store.FieldReadC("NetworkPort"), "");
  EXPECT_STREQ(store.FieldReadC(nullptr), "");
  EXPECT_STREQ(store.FieldReadC("Bones"), "Bob:Bob_Hips");
  EXPECT_STREQ(store.FieldReadC("Empty"), "");
  EXPECT_FALSE(store.FieldReadBegin("Markers"));
  EXPECT_EQ(store.FieldReadGetCount(), 0);
  EXPECT_STREQ(store.FieldReadC(), "");
  EXPECT_EQ(store.FieldReadD(), 0.0);
  EXPECT_EQ(store.FieldReadI(), 0);
  store.FieldReadEnd();
  store.FieldReadEnd();  // twice is harmless
}

TEST(FieldStoreTest, NamedReadDoesNotDisturbTheOpenField) {
  FBFbxObject store;
  WriteDeviceLike(store);
  ASSERT_TRUE(store.FieldReadBegin("Bones"));
  EXPECT_STREQ(store.FieldReadC(), "Bob:Bob_Hips");
  EXPECT_STREQ(store.FieldReadC("NetworkAddress"), "localhost");
  EXPECT_EQ(store.FieldReadD(), 1.5);
}

TEST(FieldStoreTest, MisusedWritesAreContained) {
  FBFbxObject store;
  store.FieldWriteC("stray");  // no field open
  store.FieldWriteD(1.0);
  store.FieldWriteBegin("A");
  store.FieldWriteI(1);
  store.FieldWriteBegin("B");  // closes A
  store.FieldWriteI(2);
  store.FieldWriteC("C", nullptr);  // closes B; a null text is ""
  store.FieldWriteI(3);             // no field open any more
  store.FieldWriteBegin("");        // opens nothing
  store.FieldWriteI(4);
  const auto fields = fbhost::FieldsOf(store);
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[0].values.size(), 1u);
  EXPECT_EQ(fields[1].values.size(), 1u);
  EXPECT_EQ(fields[2].values[0].text, "");
  EXPECT_EQ(fbhost::StrayValueCount(store), 4);
}

TEST(FieldStoreTest, AnsweredTextsOutliveLaterWritesAndReplacement) {
  FBFbxObject store;
  store.FieldWriteC("Name", "a text long enough to live on the heap, not inline");
  const char* answer = store.FieldReadC("Name");
  for (int i = 0; i < 100; ++i) store.FieldWriteC(("F" + std::to_string(i)).c_str(), "x");
  fbhost::SetFields(store, {});
  EXPECT_STREQ(answer, "a text long enough to live on the heap, not inline");
  EXPECT_STREQ(store.FieldReadC("Name"), "");
}

TEST(FieldStoreTest, DoublesAndIntegersKeepTheirExactValues) {
  const double doubles[] = {0.0,
                            -0.0,
                            0.1,
                            -1e-310,
                            std::numeric_limits<double>::max(),
                            std::numeric_limits<double>::infinity()};
  const int integers[] = {0, -1, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()};
  FBFbxObject store;
  store.FieldWriteBegin("N");
  for (double d : doubles) store.FieldWriteD(d);
  for (int i : integers) store.FieldWriteI(i);
  store.FieldWriteEnd();
  ASSERT_TRUE(store.FieldReadBegin("N"));
  for (double d : doubles) {
    const double back = store.FieldReadD();
    EXPECT_EQ(std::memcmp(&back, &d, sizeof d), 0) << d;
  }
  for (int i : integers) EXPECT_EQ(store.FieldReadI(), i);
}

}  // namespace
