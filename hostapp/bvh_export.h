// Export of a recorded take as a BVH file, so the motion opens in any
// animation tool.
//
// The skeleton is the segment models (FBModelSkeleton) the take recorded,
// as the device bound them when it recorded (the take keeps them, so the
// export does not depend on the scene's models now): every skeleton model
// whose parent is not a skeleton model is a ROOT, and the hierarchy follows
// the models' child lists. Each subject (the namespace of the subject null
// the root hangs below) gives one ROOT; a subject filter keeps one.
//
// Frames: one per recorded sample. The frame times are every time at which
// any joint of the exported skeletons has a key in the take's base layer,
// in order; a joint without a key at such a time holds its last key (this
// does not happen when one device recorded every joint, and is reported).
// Frame Time is the mean interval between the first and the last sample.
//
// Values, in host units (the device has already scaled the server's
// lengths by 0.1):
//   - Offsets: the joint's local translation at the first frame. A joint
//     whose translation moves during the take, and every ROOT, gets
//     position channels instead, with an OFFSET of zero, so that OFFSET
//     plus position is the recorded translation in every frame.
//   - Rotations: the recorded local rotation, Euler degrees with
//     R = Rz * Ry * Rx, written as the channels "Zrotation Yrotation
//     Xrotation" in that order, which BVH readers compose the same way.
//   - Numbers are written in the shortest form that reads back as the same
//     double, so nothing is lost on the way.
//   - Every joint without child joints ends in an End Site at its origin.
#pragma once

#include <array>
#include <string>
#include <vector>

#include <fbsdk/fbtake.h>
#include <fbsdk/fbtime.h>

namespace orbel::hostapp {

struct BvhJoint {
  std::string name;
  std::string modelLabel;  // the scene model it came from
  int parent = -1;         // index in BvhMotion::joints; -1 for a ROOT
  bool hasPositions = false;
  std::array<double, 3> offset{};
  // One per frame.
  std::vector<std::array<double, 3>> translations;
  std::vector<std::array<double, 3>> rotations;  // X, Y, Z degrees
};

struct BvhMotion {
  // Parents before their children, depth first in child-list order: the
  // order of the hierarchy and of the channels in each motion line.
  std::vector<BvhJoint> joints;
  std::vector<FBTime> frameTimes;
  double frameTimeSeconds = 1.0 / 120.0;
  // Things a user should know about the export (held keys, skipped
  // skeletons); the export still succeeded.
  std::vector<std::string> notes;
};

// Collects the skeletons and their keys from the take (see the file
// comment). subject: "" for every subject. Fails, saying why, when no
// skeleton model has keys in the take, when the subject has no skeleton,
// or when a key holds a value that is not a finite number.
bool CollectBvhMotion(FBTake& take, const std::string& subject, BvhMotion* motion,
                      std::string* error);

// The BVH text of a collected motion.
std::string FormatBvh(const BvhMotion& motion);

}  // namespace orbel::hostapp
