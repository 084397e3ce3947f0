// Export of a recorded take as binary glTF 2.0 (.glb), the format most
// animation and 3D tools open, with the skeletons and the labelled markers
// in one file.
//
// What the file holds:
//   - One node per subject, at the origin: the recorded values are relative
//     to the subject null, as in the BVH export.
//   - Below it, one node per segment model, in the hierarchy and with the
//     names the BVH export gives them (bvh_export.h: the same joints, the
//     same frames, a joint without a key at a frame holding its last key),
//     and one node per labelled marker (a marker model whose parent is its
//     subject's null; not the device's "Unlabeled" one), named after the marker without the
//     subject's prefix. Names are unique in the file.
//   - Every node's rest pose is its value at the first key.
//   - One animation, named after the take, with LINEAR channels: for each
//     segment node a translation and a rotation at the samples' times, for
//     each marker node a translation at its own keys' times. Times are in
//     seconds from the take's first sample (asset.extras.takeStartSeconds
//     says where that lies on the take's time line).
//   - Rotations are the keyed Euler angles turned into quaternions in the
//     host's rotation order (R = Rz * Ry * Rx, fbsdk/fbrotation.h), each
//     on the same side as the one before so that interpolation takes the
//     short way.
//   - Lengths in metres, as glTF wants: host units times
//     kMetresPerHostUnit, which asset.extras.metresPerHostUnit states. Axes
//     are the device's (glTF's Y-up matches the panel's "Y-Up").
//   - Values are 32-bit floats, as glTF stores them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <fbsdk/fbtake.h>

namespace orbel::hostapp {

// The device turns the server's millimetres into the host's centimetres.
constexpr double kMetresPerHostUnit = 0.01;

struct GltfSummary {
  int subjects = 0;
  int joints = 0;
  int markers = 0;
  std::size_t frames = 0;  // skeleton samples
  // What a user should know (held keys, skeletons left out); the export
  // still succeeded.
  std::vector<std::string> notes;
};

// The .glb bytes of the take. subject: "" for every subject. Fails, saying
// why, when the take holds neither a keyed skeleton nor a keyed labelled
// marker (of that subject), when the subject is unknown, or when a key
// holds a value that is not a finite number.
bool ExportGltf(FBTake& take, const std::string& subject, std::string* glb, GltfSummary* summary,
                std::string* error);

}  // namespace orbel::hostapp
