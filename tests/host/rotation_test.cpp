// FBQuaternionToRotation against Eigen as an independent reference:
// - the rotation matrix rebuilt from the answered angles equals the
//   quaternion's matrix (all six orders, random, near gimbal lock, non-unit);
// - away from gimbal lock the angles equal Eigen's own extraction;
// - a table of named cases;
// and the conversion's own atan2 against the C library's.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>
#include <Eigen/Geometry>

#include <fbsdk/fbrotation.h>

#include "angle_math.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;
constexpr double kMatrixTolerance = 1e-12;
constexpr double kAngleToleranceDegrees = 1e-9;

struct OrderInfo {
  const char* name;
  std::array<int, 3> axes;  // first applied, middle, last applied
  FBRotationOrder order;
};

const OrderInfo kOrders[] = {
    {"XYZ", {0, 1, 2}, kFBXYZ}, {"XZY", {0, 2, 1}, kFBXZY}, {"YZX", {1, 2, 0}, kFBYZX},
    {"YXZ", {1, 0, 2}, kFBYXZ}, {"ZXY", {2, 0, 1}, kFBZXY}, {"ZYX", {2, 1, 0}, kFBZYX},
};

Eigen::Vector3d Axis(int a) { return Eigen::Vector3d::Unit(a); }

// R = R_last * R_middle * R_first from angles in degrees (x, y, z).
Eigen::Matrix3d MatrixFromAngles(const FBVector3<double>& angles, const OrderInfo& o) {
  auto r = [&](int axis) {
    return Eigen::AngleAxisd(angles[static_cast<std::size_t>(axis)] * kDeg, Axis(axis));
  };
  return (r(o.axes[2]) * r(o.axes[1]) * r(o.axes[0])).toRotationMatrix();
}

Eigen::Matrix3d MatrixFromQuaternion(const FBVector4<double>& q) {
  // Eigen's constructor takes (w, x, y, z).
  return Eigen::Quaterniond(q[3], q[0], q[1], q[2]).normalized().toRotationMatrix();
}

double AngleDifference(double a, double b) {
  double d = std::fmod(a - b, 360.0);
  if (d > 180.0) d -= 360.0;
  if (d < -180.0) d += 360.0;
  return std::fabs(d);
}

// Eigen's extraction for the order, as (x, y, z) degrees, moved to the branch
// whose middle angle lies in [-90, 90] (Eigen puts its first angle in [0, pi]).
FBVector3<double> EigenAngles(const Eigen::Matrix3d& m, const OrderInfo& o) {
  // eulerAngles(a0, a1, a2) gives R = R_a0(e0) R_a1(e1) R_a2(e2).
  const Eigen::Vector3d e = m.eulerAngles(o.axes[2], o.axes[1], o.axes[0]);
  double last = e[0], middle = e[1], first = e[2];
  if (middle > kPi / 2 || middle < -kPi / 2) {
    last += kPi;
    middle = kPi - middle;
    first += kPi;
  }
  if (middle > kPi) middle -= 2 * kPi;
  if (middle < -kPi) middle += 2 * kPi;
  double out[3];
  out[o.axes[0]] = first / kDeg;
  out[o.axes[1]] = middle / kDeg;
  out[o.axes[2]] = last / kDeg;
  return FBVector3<double>(out[0], out[1], out[2]);
}

FBVector4<double> RandomQuaternion(std::mt19937_64& rng) {
  std::normal_distribution<double> n(0.0, 1.0);
  std::uniform_real_distribution<double> logScale(-3.0, 3.0);
  const double scale = std::pow(10.0, logScale(rng));  // non-unit on purpose
  return FBVector4<double>(n(rng) * scale, n(rng) * scale, n(rng) * scale, n(rng) * scale);
}

void ExpectMatrixReproduced(const FBVector4<double>& q, const OrderInfo& o) {
  FBVector3<double> angles;
  FBQuaternionToRotation(angles, q, o.order);
  const Eigen::Matrix3d expected = MatrixFromQuaternion(q);
  const Eigen::Matrix3d actual = MatrixFromAngles(angles, o);
  ASSERT_LT((expected - actual).cwiseAbs().maxCoeff(), kMatrixTolerance)
      << o.name << " q=(" << q[0] << ", " << q[1] << ", " << q[2] << ", " << q[3] << ") angles=("
      << angles[0] << ", " << angles[1] << ", " << angles[2] << ")";
  // Ranges: first and last in (-180, 180], middle in [-90, 90].
  for (int a = 0; a < 3; ++a) {
    ASSERT_GT(angles[static_cast<std::size_t>(a)], -180.0);
    ASSERT_LE(angles[static_cast<std::size_t>(a)], 180.0);
  }
  ASSERT_LE(std::fabs(angles[static_cast<std::size_t>(o.axes[1])]), 90.0);
}

class RotationOrderTest : public ::testing::TestWithParam<OrderInfo> {};

TEST_P(RotationOrderTest, RandomQuaternionsRebuildTheirMatrix) {
  std::mt19937_64 rng(20140101);
  for (int i = 0; i < 5000; ++i) ExpectMatrixReproduced(RandomQuaternion(rng), GetParam());
}

TEST_P(RotationOrderTest, RandomQuaternionsMatchEigenAnglesAwayFromGimbalLock) {
  const OrderInfo& o = GetParam();
  std::mt19937_64 rng(7);
  int compared = 0;
  for (int i = 0; i < 5000; ++i) {
    const FBVector4<double> q = RandomQuaternion(rng);
    FBVector3<double> angles;
    FBQuaternionToRotation(angles, q, o.order);
    if (std::fabs(angles[static_cast<std::size_t>(o.axes[1])]) > 89.0) continue;
    const FBVector3<double> reference = EigenAngles(MatrixFromQuaternion(q), o);
    for (std::size_t a = 0; a < 3; ++a) {
      ASSERT_LT(AngleDifference(angles[a], reference[a]), kAngleToleranceDegrees)
          << o.name << " axis " << a << ": " << angles[a] << " vs Eigen " << reference[a];
    }
    ++compared;
  }
  EXPECT_GT(compared, 4500);
}

TEST_P(RotationOrderTest, NearGimbalLockRebuildsTheMatrix) {
  const OrderInfo& o = GetParam();
  std::mt19937_64 rng(99);
  std::uniform_real_distribution<double> angle(-180.0, 180.0);
  for (double middle : {90.0, -90.0}) {
    for (double offset : {0.0, 1e-15, -1e-15, 1e-12, -1e-12, 1e-9, -1e-9, 1e-6, -1e-6, 1e-3}) {
      for (int i = 0; i < 200; ++i) {
        double e[3];
        e[o.axes[0]] = angle(rng);
        e[o.axes[1]] = middle + offset;
        e[o.axes[2]] = angle(rng);
        FBVector4<double> q;
        FBRotationToQuaternion(q, FBVector3<double>(e[0], e[1], e[2]), o.order);
        ExpectMatrixReproduced(q, o);
        // Also scaled and sign-flipped: the same rotation.
        ExpectMatrixReproduced(FBVector4<double>(-3 * q[0], -3 * q[1], -3 * q[2], -3 * q[3]), o);
      }
    }
  }
}

TEST_P(RotationOrderTest, RotationToQuaternionRoundTrip) {
  const OrderInfo& o = GetParam();
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> wide(-179.0, 179.0);
  std::uniform_real_distribution<double> narrow(-89.0, 89.0);
  for (int i = 0; i < 2000; ++i) {
    double e[3];
    e[o.axes[0]] = wide(rng);
    e[o.axes[1]] = narrow(rng);
    e[o.axes[2]] = wide(rng);
    const FBVector3<double> in(e[0], e[1], e[2]);
    FBVector4<double> q;
    FBRotationToQuaternion(q, in, o.order);
    EXPECT_GE(q[3], 0.0);
    FBVector3<double> out;
    FBQuaternionToRotation(out, q, o.order);
    for (std::size_t a = 0; a < 3; ++a) ASSERT_LT(AngleDifference(out[a], in[a]), 1e-9);
  }
}

INSTANTIATE_TEST_SUITE_P(Orders, RotationOrderTest, ::testing::ValuesIn(kOrders),
                         [](const ::testing::TestParamInfo<OrderInfo>& info) {
                           return std::string(info.param.name);
                         });

struct NamedCase {
  const char* name;
  FBVector4<double> q;
  FBVector3<double> expected;  // XYZ order
};

const double s45 = std::sqrt(0.5);

const NamedCase kNamedCases[] = {
    {"identity", {0, 0, 0, 1}, {0, 0, 0}},
    {"identity_scaled", {0, 0, 0, 2.5}, {0, 0, 0}},
    {"identity_negative", {0, 0, 0, -1}, {0, 0, 0}},
    {"x_90", {s45, 0, 0, s45}, {90, 0, 0}},
    {"x_minus_90", {-s45, 0, 0, s45}, {-90, 0, 0}},
    {"y_45", {0, std::sin(kPi / 8), 0, std::cos(kPi / 8)}, {0, 45, 0}},
    {"z_90", {0, 0, s45, s45}, {0, 0, 90}},
    {"x_180", {1, 0, 0, 0}, {180, 0, 0}},
    {"z_180", {0, 0, 1, 0}, {0, 0, 180}},
    {"z_180_negative_sign", {0, 0, -1, 0}, {0, 0, 180}},
    {"y_90_gimbal_lock", {0, s45, 0, s45}, {0, 90, 0}},
    {"y_minus_90_gimbal_lock", {0, -s45, 0, s45}, {0, -90, 0}},
    {"zero_quaternion", {0, 0, 0, 0}, {0, 0, 0}},
    {"nan_component", {std::nan(""), 0, 0, 1}, {0, 0, 0}},
    {"infinite_component", {HUGE_VAL, 0, 0, 1}, {0, 0, 0}},
    {"huge_scale", {1e200 * s45, 0, 0, 1e200 * s45}, {90, 0, 0}},
    {"tiny_scale", {1e-200 * s45, 0, 0, 1e-200 * s45}, {90, 0, 0}},
    {"subnormal_scale", {4e-320, 0, 0, 4e-320}, {90, 0, 0}},
    // Either side of where the conversion stops scaling.
    {"small_scale_edges",
     {1.2e-100, 0.4e-100, 0, 1.2e-100},
     {93.179830119864230, 18.408480170585843, 19.440034828176195}},
    {"large_scale_edges",
     {0.7e100, 0, 0.1e100, 0.7e100},
     {89.415369479294820, -8.129684778608015, 8.212780189285889}},
};

class RotationNamedCaseTest : public ::testing::TestWithParam<NamedCase> {};

TEST_P(RotationNamedCaseTest, XYZ) {
  const NamedCase& c = GetParam();
  FBVector3<double> out(7, 7, 7);
  FBQuaternionToRotation(out, c.q);  // default order: kFBXYZ
  for (std::size_t a = 0; a < 3; ++a) {
    EXPECT_NEAR(out[a], c.expected[a], 1e-9) << "axis " << a;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, RotationNamedCaseTest, ::testing::ValuesIn(kNamedCases),
                         [](const ::testing::TestParamInfo<NamedCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(RotationTest, XYZMeansXFirstThenYThenZ) {
  // Rotating about X first, then Z: the X axis stays put by the first
  // rotation and goes to +Y by the second; Rz * Rx applied to e_x.
  FBVector4<double> q;
  FBRotationToQuaternion(q, FBVector3<double>(90, 0, 90), kFBXYZ);
  const Eigen::Vector3d ex = MatrixFromQuaternion(q) * Eigen::Vector3d::UnitX();
  EXPECT_NEAR(ex.y(), 1.0, 1e-12);
  // And e_y: Rx(90) takes it to +Z, Rz(90) leaves +Z alone.
  const Eigen::Vector3d ey = MatrixFromQuaternion(q) * Eigen::Vector3d::UnitY();
  EXPECT_NEAR(ey.z(), 1.0, 1e-12);
}

TEST(RotationTest, GimbalLockConventionPutsEverythingInTheFirstAngle) {
  // Rz(40) Ry(90) Rx(30) equals Ry(90) Rx(30 - 40): last angle 0.
  FBVector4<double> q;
  FBRotationToQuaternion(q, FBVector3<double>(30, 90, 40), kFBXYZ);
  FBVector3<double> out;
  FBQuaternionToRotation(out, q, kFBXYZ);
  EXPECT_NEAR(out[1], 90.0, 1e-6);
  EXPECT_EQ(out[2], 0.0);
  EXPECT_NEAR(out[0], -10.0, 1e-6);
}

TEST(RotationTest, OutOfRangeOrderIsXYZ) {
  const FBVector4<double> q(0.1, 0.2, 0.3, 0.9);
  FBVector3<double> a, b;
  FBQuaternionToRotation(a, q, kFBXYZ);
  FBQuaternionToRotation(b, q, static_cast<FBRotationOrder>(42));
  EXPECT_EQ(a, b);
}

// ---- the conversion's atan2 -------------------------------------------------

namespace atan2_check {

// Distance in representable doubles; signs must agree.
std::int64_t UlpsApart(double a, double b) {
  if (a == b) return 0;
  if (std::signbit(a) != std::signbit(b)) return INT64_MAX;
  std::int64_t ia = 0;
  std::int64_t ib = 0;
  std::memcpy(&ia, &a, sizeof a);
  std::memcpy(&ib, &b, sizeof b);
  return ia > ib ? ia - ib : ib - ia;
}

TEST(ConversionAtan2, WithinFourUnitsInTheLastPlaceOfTheCLibrary) {
  // Each band of the range reduction, the four quadrants, tiny and large
  // magnitudes, and the points where the bands meet.
  std::mt19937_64 random(20261209);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_real_distribution<double> exponent(-24.0, 24.0);
  std::uniform_real_distribution<double> angle(-kPi, kPi);
  std::int64_t worst = 0;
  for (int i = 0; i < 300000; ++i) {
    double y = 0;
    double x = 0;
    switch (i % 3) {
      case 0:
        y = unit(random);
        x = unit(random);
        break;
      case 1:
        y = unit(random) * std::pow(10.0, exponent(random));
        x = unit(random) * std::pow(10.0, exponent(random));
        break;
      default: {
        const double a = angle(random);
        y = std::sin(a);
        x = std::cos(a);
      }
    }
    const double ours = fbhost_internal::Atan2(y, x);
    const std::int64_t apart = UlpsApart(ours, std::atan2(y, x));
    ASSERT_LE(apart, 4) << "atan2(" << y << ", " << x << ")";
    worst = std::max(worst, apart);
    // The two-lane form answers each lane bit for bit as the scalar one.
    double pair[2] = {0, 0};
    fbhost_internal::Atan2Pair(y, x, x, y, pair[0], pair[1]);
    const double scalar[2] = {ours, fbhost_internal::Atan2(x, y)};
    ASSERT_EQ(std::memcmp(pair, scalar, sizeof pair), 0) << "atan2(" << y << ", " << x << ")";
  }
  for (const double t : {0.66, 2.41421356237309504880}) {
    for (const double nudge : {-1e-15, 0.0, 1e-15}) {
      const double y = t + nudge;
      EXPECT_LE(UlpsApart(fbhost_internal::Atan2(y, 1.0), std::atan2(y, 1.0)), 4) << y;
    }
  }
  RecordProperty("worst_ulps", static_cast<int>(worst));
}

TEST(ConversionAtan2, AxesZerosAndNonFiniteAnswerExactlyAsTheCLibrary) {
  const double inf = std::numeric_limits<double>::infinity();
  const double cases[][2] = {
      {0.0, 1.0},   {-0.0, 1.0},   {0.0, -1.0},  {-0.0, -1.0},  {1.0, 0.0},    {1.0, -0.0},
      {-1.0, 0.0},  {0.0, 0.0},    {-0.0, 0.0},  {0.0, -0.0},   {-0.0, -0.0},  {inf, 1.0},
      {1.0, inf},   {1.0, -inf},   {-inf, inf},  {inf, -inf},   {1e-300, 1.0}, {1.0, 1e-300},
      {1e300, 1.0}, {1.0, -1e300}, {1e30, 1e30}, {4e-310, -1.0}};
  for (const auto& c : cases) {
    const double ours = fbhost_internal::Atan2(c[0], c[1]);
    const double theirs = std::atan2(c[0], c[1]);
    EXPECT_EQ(ours, theirs) << "atan2(" << c[0] << ", " << c[1] << ")";
    EXPECT_EQ(std::signbit(ours), std::signbit(theirs)) << "atan2(" << c[0] << ", " << c[1] << ")";
    double pair[2] = {0, 0};
    fbhost_internal::Atan2Pair(0.5, -0.25, c[0], c[1], pair[0], pair[1]);
    const double scalar[2] = {fbhost_internal::Atan2(0.5, -0.25), ours};
    EXPECT_EQ(std::memcmp(pair, scalar, sizeof pair), 0) << "atan2(" << c[0] << ", " << c[1] << ")";
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(std::isnan(fbhost_internal::Atan2(nan, 1.0)));
  EXPECT_TRUE(std::isnan(fbhost_internal::Atan2(1.0, nan)));
}

}  // namespace atan2_check

}  // namespace
