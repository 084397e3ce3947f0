#include "AxisMapping.h"

namespace orbel::client {

namespace {

struct Landing {
  int axis;
  double sign;
};

bool landingOf(int code, Landing& out) {
  switch (code) {
    case 0:
      out = {1, 1};
      return true;
    case 1:
      out = {1, -1};
      return true;
    case 2:
      out = {2, -1};
      return true;
    case 3:
      out = {2, 1};
      return true;
    case 4:
      out = {0, 1};
      return true;
    case 5:
      out = {0, -1};
      return true;
    default:
      return false;
  }
}

}  // namespace

bool AxisMapping::fromDirections(int x, int y, int z, AxisMapping& out) {
  const int codes[3] = {x, y, z};
  AxisMapping m;
  bool used[3] = {false, false, false};
  for (int i = 0; i < 3; ++i) {
    Landing l{};
    if (!landingOf(codes[i], l) || used[l.axis]) return false;
    used[l.axis] = true;
    m.target_[i] = l.axis;
    m.sign_[i] = l.sign;
    m.directions_[i] = codes[i];
  }
  // The determinant of a signed permutation: the signs' product times the
  // permutation's parity (odd when exactly one pair of axes is out of order
  // an odd number of times).
  int inversions = 0;
  for (int i = 0; i < 3; ++i) {
    for (int j = i + 1; j < 3; ++j) {
      if (m.target_[i] > m.target_[j]) ++inversions;
    }
  }
  m.det_ = m.sign_[0] * m.sign_[1] * m.sign_[2] * ((inversions % 2) ? -1.0 : 1.0);
  for (int i = 0; i < 3; ++i) {
    m.source_[m.target_[i]] = i;
    m.sourceSign_[m.target_[i]] = m.sign_[i];
    m.sourceQuaternionSign_[m.target_[i]] = m.det_ * m.sign_[i];
  }
  out = m;
  return true;
}

}  // namespace orbel::client
