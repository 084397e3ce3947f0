// What the live view shows, read from the scene through the host's public
// interfaces: every shown segment model (FBModelSkeleton) as a joint, with a
// bone to its parent when that is a shown segment too; every shown marker
// model, labelled when it hangs below a subject's null and unlabelled
// otherwise (also below the device's "Unlabeled" null); the devices' texts; the transport's
// recording.
//
// Positions are world positions in host units, in the device's coordinate
// frame: each model's local translation and rotation (Euler degrees in the
// host's order, fbsdk/fbrotation.h) composed up its parents.
//
// Reading is split in two so that the UI thread is kept out for as short a
// time as possible: Capture copies the models' and devices' values (inside
// SceneGate::Visit), Compose turns the copy into the page's messages
// (outside it).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <fbsdk/fbtime.h>

namespace orbel::hostapp {

struct SceneCopy {
  enum class Kind { Other, Null, Skeleton, Marker };
  struct Model {
    const void* self = nullptr;    // identity only: never read after the visit
    const void* parent = nullptr;  // the same
    Kind kind = Kind::Other;
    bool show = false;
    std::string label;
    double translation[3] = {0.0, 0.0, 0.0};
    double rotation[3] = {0.0, 0.0, 0.0};
  };
  struct Device {
    std::string name;
    std::string status;
    std::string information;
    bool online = false;
    bool live = false;
  };
  std::vector<Model> models;
  // Whether this capture read the models' labels, parents, kinds and show
  // flags (see CaptureScene).
  bool structureRead = true;
  std::vector<Device> devices;
  bool recording = false;
  std::string take;
  FBTime transportTime;
};

// UI thread, or inside SceneGate::Visit: copies the scene's values into the
// copy the capture before left. The models' labels, parents, kinds and show
// flags, which only the UI thread changes, are read when `structure` says
// so (the UI thread was in the scene since) or the model list changed;
// translations, rotations and the devices' texts every time.
void CaptureScene(SceneCopy* copy, bool structure);

// The figures shown beside the devices, from the host program's LiveStats.
struct ViewFigures {
  double framesPerSecond = 0.0;
  bool haveLatency = false;
  double latencyMs = 0.0;
  bool zUp = false;  // the device's coordinate frame is "Z-Up"
};

// The page's two messages. The structure changes rarely (binds, description
// changes, option switches); its version goes up each time. The pose comes
// every display frame and names the structure version its positions follow.
class ViewComposer {
 public:
  void Compose(const SceneCopy& copy, const ViewFigures& figures);

  std::uint64_t StructureVersion() const { return mVersion; }
  const std::string& StructureJson() const { return mStructureJson; }
  const std::string& PoseJson() const { return mPoseJson; }

  // A rigid transform: rotation matrix (row major) and translation.
  struct Rigid {
    double r[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    double t[3] = {0, 0, 0};
  };

 private:
  struct Structure {
    std::vector<std::string> subjects;
    std::vector<std::string> names;
    std::vector<int> kinds;      // 0 joint, 1 labelled marker, 2 unlabelled marker
    std::vector<int> subjectOf;  // index in subjects; -1 for none
    std::vector<int> bones;      // pairs of point indices: joint, parent joint
    bool operator==(const Structure& other) const {
      return subjects == other.subjects && names == other.names && kinds == other.kinds &&
             subjectOf == other.subjectOf && bones == other.bones;
    }
  };

  void BuildStructure(const SceneCopy& copy);

  // The last frame's models and parent links, what they gave, and the
  // work space of the transforms (kept to spare the allocations).
  std::vector<const void*> mSelves;
  std::vector<const void*> mParents;
  std::vector<int> mParentOf;
  std::vector<Rigid> mWorld;
  std::vector<char> mDone;
  std::vector<int> mChain;
  std::vector<std::size_t> mDrawn;  // the model of each point
  Structure mStructure;
  std::uint64_t mVersion = 0;
  std::uint64_t mSequence = 0;
  // The transport's time when this view first saw the recording.
  bool mSawRecording = false;
  FBTime mRecordingSince;
  std::string mStructureJson;
  std::string mPoseJson;
};

}  // namespace orbel::hostapp
