// Maps the server's right-handed Z-up frame into the caller's frame.
//
// The mapping is a signed permutation M: server axis i lands on caller axis
// target[i] with sign sign[i]. Translations map as t' = M t. Rotations map as
// R' = M R Mᵀ; for a unit quaternion (v, w) that is (det(M) M v, w), which
// stays a proper rotation even when M is a reflection. Only sign flips and
// swaps are involved, so the identity mapping hands values back bit for bit.
#pragma once

#include <cstdint>

namespace orbel::client {

class AxisMapping {
 public:
  // The identity: the server's own frame.
  AxisMapping() = default;

  // Direction codes, one per server axis X, Y, Z: 0 +Y, 1 -Y, 2 -Z, 3 +Z,
  // 4 +X, 5 -X. Answers false, and leaves out alone, unless the three codes
  // are known and name three different caller axes.
  static bool fromDirections(int x, int y, int z, AxisMapping& out);

  // Written in the order of the caller's axes, each value gathered from the
  // server axis that lands there: the caller reads the answer right after,
  // and stores to places only known once target_ is loaded made those reads
  // wait for (or be replayed behind) the stores on every query.
  void mapVector(const double in[3], double out[3]) const {
    for (int t = 0; t < 3; ++t) out[t] = sourceSign_[t] * in[source_[t]];
  }

  // in and out are x, y, z, w.
  void mapQuaternion(const double in[4], double out[4]) const {
    for (int t = 0; t < 3; ++t) out[t] = sourceQuaternionSign_[t] * in[source_[t]];
    out[3] = in[3];
  }

  int direction(int serverAxis) const { return directions_[serverAxis]; }

 private:
  int target_[3] = {0, 1, 2};
  double sign_[3] = {1, 1, 1};
  double det_ = 1;
  // The permutation seen from the caller's side: caller axis t takes server
  // axis source_[t], times its sign (times det_ for a quaternion), kept
  // ready since every query of a frame maps.
  int source_[3] = {0, 1, 2};
  double sourceSign_[3] = {1, 1, 1};
  double sourceQuaternionSign_[3] = {1, 1, 1};
  int directions_[3] = {4, 0, 3};
};

}  // namespace orbel::client
