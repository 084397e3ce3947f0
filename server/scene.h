// What a capture server streams: a description (subjects with their segments
// and labelled markers) and, frame by frame, the poses and positions that fill
// it. The synthetic scene, BVH playback and scene files all produce this, in
// the stream protocol's own types, so the server sends them as they are.
//
// Frame of reference: right-handed, Z up, in the server's length unit. The
// client library maps axes on its side.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "orbel/protocol/messages.h"

namespace orbel::server {

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
  // resends a description exactly when the address changes; the server
  // numbers it, so its id means nothing here.
  virtual std::shared_ptr<const protocol::Description> descriptionAt(std::uint64_t n) const = 0;

  // Frame n, laid out as descriptionAt(n): number, per-subject counts and
  // the flat samples (subject after subject, each in the description's
  // order; the unlabelled count may differ from frame to frame), and the
  // timecode when providesTimecode(). The server fills in the rest.
  // Overwrites out in place (its vectors keep their capacity) so that a
  // steady stream allocates nothing.
  virtual void frameAt(std::uint64_t n, protocol::Frame& out) const = 0;

  // True when frameAt fills the timecode itself (a scene file with an
  // explicit timecode). The server then serves it unchanged; otherwise it
  // computes the timecode from the frame number when asked to, or serves none.
  // Scene files may serve any standard code on purpose.
  virtual bool providesTimecode() const { return false; }

  // Switch to the scene's second description, if it has one (SIGHUP).
  virtual void requestSwitch() {}
};

// Why a frame does not fit its description, or empty when it does: the
// server sends no frame that does not fit.
inline std::string misfit(const protocol::Description& d, const protocol::Frame& f) {
  if (f.segmentCounts.size() != d.subjects.size() || f.markerCounts.size() != d.subjects.size()) {
    return "it has " + std::to_string(f.segmentCounts.size()) + " subjects, the description " +
           std::to_string(d.subjects.size());
  }
  std::size_t segments = 0;
  std::size_t markers = 0;
  for (std::size_t s = 0; s < d.subjects.size(); ++s) {
    const protocol::SubjectInfo& subject = d.subjects[s];
    if (f.segmentCounts[s] != subject.segments.size()) {
      return "subject '" + subject.name + "' has " + std::to_string(f.segmentCounts[s]) +
             " segment poses for " + std::to_string(subject.segments.size()) + " segments";
    }
    if (f.markerCounts[s] != subject.markers.size()) {
      return "subject '" + subject.name + "' has " + std::to_string(f.markerCounts[s]) +
             " marker positions for " + std::to_string(subject.markers.size()) + " markers";
    }
    segments += subject.segments.size();
    markers += subject.markers.size();
  }
  if (f.segments.size() != segments || f.markers.size() != markers) {
    return "it holds " + std::to_string(f.segments.size()) + " segment poses and " +
           std::to_string(f.markers.size()) + " marker positions for counts of " +
           std::to_string(segments) + " and " + std::to_string(markers);
  }
  if (f.unlabeled.size() > protocol::kMaxUnlabeled) {
    return std::to_string(f.unlabeled.size()) + " unlabelled markers, more than " +
           std::to_string(protocol::kMaxUnlabeled);
  }
  return {};
}

}  // namespace orbel::server
