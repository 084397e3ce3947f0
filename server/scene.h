// What a capture server streams: a description (subjects with their segments
// and labelled markers) and, frame by frame, the poses and positions that fill
// it. The synthetic scene, BVH playback and scene files all produce this.
//
// Frame of reference: right-handed, Z up, in the server's length unit. The
// client library maps axes on its side.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orbel::server {

struct SegmentDescription {
  std::string name;
  std::string parent;  // empty for a root segment
};

struct SubjectDescription {
  std::string name;
  std::vector<SegmentDescription> segments;  // in the order the server reports them
  std::vector<std::string> markers;          // labelled marker names, in order
};

struct Description {
  std::vector<SubjectDescription> subjects;
};

struct SegmentPose {
  double translation[3] = {0, 0, 0};  // local, relative to the parent segment
  double rotation[4] = {0, 0, 0, 1};  // local, quaternion x, y, z, w
  bool occluded = false;
};

struct MarkerPosition {
  double position[3] = {0, 0, 0};  // global
  bool occluded = false;
};

struct Timecode {
  std::uint32_t hours = 0;
  std::uint32_t minutes = 0;
  std::uint32_t seconds = 0;
  std::uint32_t frames = 0;
  // 0 none, 1 PAL, 2 NTSC, 3 NTSC drop frame, 4 film; scene files may serve
  // any other value on purpose.
  std::uint32_t standard = 0;
};

// One frame's values, laid out like the description in force for it:
// segments[s][k] belongs to subjects[s].segments[k], markers[s][k] to
// subjects[s].markers[k].
struct Frame {
  std::uint64_t number = 0;
  Timecode timecode;
  std::vector<std::vector<SegmentPose>> segments;
  std::vector<std::vector<MarkerPosition>> markers;
  std::vector<MarkerPosition> unlabeled;  // count may differ from frame to frame
};

// A source of frames. Every operation may be called from several threads at
// once (one scene serves every client connection); requestSwitch is called
// from the server's main loop, never from inside a signal handler.
class Scene {
 public:
  virtual ~Scene() = default;

  // The scene's own rate; the server plays at it unless told otherwise.
  virtual double framesPerSecond() const = 0;

  // The description in force at frame n. The same object (same address) is
  // answered for as long as the description does not change, so the server
  // resends a description exactly when the address changes.
  virtual std::shared_ptr<const Description> descriptionAt(std::uint64_t n) const = 0;

  // Frame n, laid out as descriptionAt(n). Overwrites out in place (its
  // vectors keep their capacity) so that a steady stream allocates nothing.
  virtual void frameAt(std::uint64_t n, Frame& out) const = 0;

  // True when frameAt fills Frame::timecode itself (a scene file with an
  // explicit timecode). The server then serves it unchanged; otherwise it
  // computes the timecode from the frame number when asked to, or serves none.
  virtual bool providesTimecode() const { return false; }

  // Switch to the scene's second description, if it has one (SIGHUP).
  virtual void requestSwitch() {}
};

}  // namespace orbel::server
