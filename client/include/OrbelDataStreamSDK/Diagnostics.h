// Process-wide diagnostics of the stream client library, for host programs
// that want to measure what flows through clients they do not own (a
// plug-in's client, reached only through the one loaded copy of this
// library).
//
// Not part of the Client contract (Client.h): the figures may change shape
// between versions, and nothing in a client's behaviour depends on them.
//
// Threads: every function may be called from any thread at any time; the
// figures are updated by GetFrame, under a lock of their own that no client
// lock is ever held across.
#pragma once

#include <cstdint>

#include "OrbelDataStreamSDK/Client.h"

namespace OrbelDataStreamSDK {
namespace Diagnostics {

// The newest frame handed out by a successful Client::GetFrame of any client
// in the process, and counts over every client since the library loaded.
// Times are CLOCK_MONOTONIC nanoseconds, comparable with the server's send
// time when the server runs on the same machine.
struct FrameTaken {
  bool Valid = false;  // false until some client has taken a frame
  std::uint64_t FrameNumber = 0;
  std::int64_t ServerSendTimeNs = 0;  // when the server sent it
  std::int64_t ReceiveTimeNs = 0;     // when the client's receive thread decoded it
  std::int64_t TakenTimeNs = 0;       // when GetFrame handed it out
  // Successful GetFrame calls.
  std::uint64_t FramesTaken = 0;
  // Frames a client never took although it took frames numbered before and
  // after them (the server dropped them for a slow reader, or a newer frame
  // replaced them before GetFrame came). A frame number that goes backwards
  // (a reconnect) counts nothing.
  std::uint64_t FramesSkipped = 0;
  // Pose and position answers (GetSegmentLocalTranslation,
  // GetSegmentLocalRotationQuaternion, GetMarkerGlobalTranslation,
  // GetUnlabeledMarkerGlobalTranslation) that held a NaN or an infinity, as
  // the server sent it. A caller that trusts no such value (the plug-in's
  // reader treats it as occluded) can show how often that happened.
  std::uint64_t NonFiniteAnswers = 0;
};

// A consistent copy of the figures (taken under their lock).
ORBEL_CLIENT_API FrameTaken NewestFrameTaken() noexcept;

// The subject names of the description of the newest frame taken, in the
// server's order, empty names included. Copies at most `capacity` of them
// into `names` and answers how many there are (0 before any frame). A host
// program compares them with what a device offers, to tell the user which
// subjects a device left out.
ORBEL_CLIENT_API unsigned int NewestSubjectNames(CPP::String* names,
                                                 unsigned int capacity) noexcept;

}  // namespace Diagnostics
}  // namespace OrbelDataStreamSDK
