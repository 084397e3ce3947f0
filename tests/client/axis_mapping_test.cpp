// Axis mappings checked against what they must mean geometrically, not
// against their own tables: images of the basis, handedness, and that a
// mapped rotation acts on mapped vectors as the original acts on originals.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>

#include "AxisMapping.h"

namespace orbel::client {
namespace {

using Vec = std::array<double, 3>;

Vec map(const AxisMapping& m, const Vec& v) {
  Vec out{};
  m.mapVector(v.data(), out.data());
  return out;
}

Vec rotate(const double q[4], const Vec& v) {
  const double x = q[0], y = q[1], z = q[2], w = q[3];
  const double tx = 2 * (y * v[2] - z * v[1]);
  const double ty = 2 * (z * v[0] - x * v[2]);
  const double tz = 2 * (x * v[1] - y * v[0]);
  return {v[0] + w * tx + (y * tz - z * ty), v[1] + w * ty + (z * tx - x * tz),
          v[2] + w * tz + (x * ty - y * tx)};
}

double det(const Vec& a, const Vec& b, const Vec& c) {
  return a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
         a[2] * (b[0] * c[1] - b[1] * c[0]);
}

struct Row {
  const char* name;
  int x, y, z;
  Vec upImage;  // where the server's up (+Z) lands
  double handedness;
};

// Names the row in test listings instead of dumping its bytes.
void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

const Row kRows[] = {
    {"z_up_identity", 4, 0, 3, {0, 0, 1}, 1},     {"y_up", 4, 2, 0, {0, 1, 0}, 1},
    {"turned_half_round", 5, 1, 3, {0, 0, 1}, 1}, {"x_and_y_swapped", 0, 4, 3, {0, 0, 1}, -1},
    {"z_flipped", 4, 0, 2, {0, 0, -1}, -1},       {"y_down", 4, 3, 1, {0, -1, 0}, 1},
};

class AxisMappingRows : public ::testing::TestWithParam<Row> {};

TEST_P(AxisMappingRows, MovesUpAndKeepsHandednessAsNamed) {
  const Row& r = GetParam();
  AxisMapping m;
  ASSERT_TRUE(AxisMapping::fromDirections(r.x, r.y, r.z, m));
  EXPECT_EQ(map(m, {0, 0, 1}), r.upImage);
  EXPECT_EQ(det(map(m, {1, 0, 0}), map(m, {0, 1, 0}), map(m, {0, 0, 1})), r.handedness);
}

TEST_P(AxisMappingRows, MappedRotationOfMappedOffsetIsMappedRotatedOffset) {
  const Row& r = GetParam();
  AxisMapping m;
  ASSERT_TRUE(AxisMapping::fromDirections(r.x, r.y, r.z, m));
  // An arbitrary rotation (unit quaternion) and offset.
  const double n = std::sqrt(0.1 * 0.1 + 0.7 * 0.7 + 0.3 * 0.3 + 0.6 * 0.6);
  const double q[4] = {0.1 / n, -0.7 / n, 0.3 / n, 0.6 / n};
  const Vec offset = {0.5, -1, 2};
  double mq[4];
  m.mapQuaternion(q, mq);
  const Vec lhs = rotate(mq, map(m, offset));
  const Vec rhs = map(m, rotate(q, offset));
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(lhs[i], rhs[i], 1e-12);
  EXPECT_NEAR(mq[0] * mq[0] + mq[1] * mq[1] + mq[2] * mq[2] + mq[3] * mq[3], 1, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(Mappings, AxisMappingRows, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AxisMapping, YUpReadsServerPointAsXZMinusY) {
  AxisMapping m;
  ASSERT_TRUE(AxisMapping::fromDirections(4, 2, 0, m));
  EXPECT_EQ(map(m, {1, 2, 3}), (Vec{1, 3, -2}));
}

TEST(AxisMapping, IdentityIsBitExactEvenForNegativeZero) {
  const AxisMapping m;
  const Vec v = {-0.0, 1e-310, -1e300};
  const Vec out = map(m, v);
  EXPECT_EQ(std::memcmp(out.data(), v.data(), sizeof v), 0);
}

TEST(AxisMapping, RefusesAnythingButASignedPermutation) {
  struct Bad {
    int x, y, z;
  };
  for (const Bad& b :
       {Bad{4, 4, 3}, Bad{0, 1, 3}, Bad{2, 3, 4}, Bad{6, 0, 3}, Bad{-1, 0, 3}, Bad{4, 0, 99}}) {
    AxisMapping m;
    ASSERT_TRUE(AxisMapping::fromDirections(4, 2, 0, m));
    EXPECT_FALSE(AxisMapping::fromDirections(b.x, b.y, b.z, m)) << b.x << b.y << b.z;
    // Left as it was.
    EXPECT_EQ(m.direction(1), 2);
  }
}

}  // namespace
}  // namespace orbel::client
