// The stream client library: one Client talks to one capture server over TCP.
//
// Contract for callers
// - Every operation answers a result record named after it (Output_GetFrame,
//   ...). Its first field, Result, is Result::Success (2) when the call did
//   what it was asked; every other code names why not. Other fields hold
//   their documented default when Result is not Success.
// - All operations may be called from any thread, also at the same time; the
//   client serialises them internally. None blocks for longer than Connect's
//   own connection attempt (bounded, see Connect).
// - Queries about subjects, segments and markers answer from the frame taken
//   by the last successful GetFrame: that frame and its description stay
//   fixed until the next GetFrame, whatever the network delivers meanwhile.
// - Name lookups are constant time (hashed indices built once per
//   description), not scans; a String kept from frame to frame is found
//   without hashing it again.
// - Queries take no lock while the frame and axis mapping stay the same.
//   Each thread that queries keeps the state it last read (one frame) until
//   its next query after a GetFrame, or until it ends.
// - No exception leaves this library.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#if defined(_WIN32)
#if defined(ORBEL_CLIENT_BUILDING)
#define ORBEL_CLIENT_API __declspec(dllexport)
#elif defined(ORBEL_CLIENT_STATIC)
// Another implementation of this header linked statically (tests).
#define ORBEL_CLIENT_API
#else
#define ORBEL_CLIENT_API __declspec(dllimport)
#endif
#else
#define ORBEL_CLIENT_API __attribute__((visibility("default")))
#endif

namespace OrbelDataStreamSDK {
namespace CPP {

// The library's own text type. It keeps short names inline (no allocation),
// which matters because callers build one per name argument on every frame.
class ORBEL_CLIENT_API String {
 public:
  String();
  String(const char* text);         // NOLINT(google-explicit-constructor): used like a text
  String(const std::string& text);  // NOLINT(google-explicit-constructor)
  String(const String& other);
  String& operator=(const String& other);
  ~String();

  operator std::string() const;  // NOLINT(google-explicit-constructor)
  // Inline: callers compare their names with these on every frame.
  const char* c_str() const { return text_.c_str(); }
  std::size_t size() const { return text_.size(); }
  bool empty() const { return text_.empty(); }
  bool operator==(const String& other) const;
  bool operator!=(const String& other) const { return !(*this == other); }

 private:
  friend struct StringAccess;
  std::string text_;
  // Where a client last found this name: which of its name tables (high
  // half) and at which position (low half). A caller that keeps its name
  // objects from frame to frame thus spares the client hashing or comparing
  // them on every query. Only lookups of this text write it (an assignment
  // takes the other's hint with its text), and the client checks that the
  // hint is one its table wrote for that position, so a stale or foreign
  // hint only costs the ordinary lookup.
  mutable std::atomic<std::uint64_t> lookupHint_{0};
};

namespace Result {
enum Enum {
  Unknown = 0,
  NotImplemented = 1,
  Success = 2,
  InvalidHostName = 3,   // Connect: address is not "host:port" or the host does not resolve
  ConnectionFailed = 4,  // Connect: nobody answered, or the handshake failed
  ClientAlreadyConnected = 5,
  NotConnected = 6,  // the operation needs a connection
  NoFrame = 7,  // GetFrame: nothing newer than the frame last taken; queries: no frame taken yet
  InvalidIndex = 8,
  InvalidSubjectName = 9,
  InvalidSegmentName = 10,
  InvalidMarkerName = 11,
  InvalidArgument = 12,  // e.g. an axis mapping that is not a signed permutation
  ProtocolError = 13,    // the server sent something this client cannot decode; connection dropped
};
}  // namespace Result

// Where one axis of the server's frame (right-handed, Z up) lands in the
// caller's frame. SetAxisMapping(X, Y, Z) takes one code per server axis.
// (PositiveX, NegativeZ, PositiveY) = (4, 2, 0) gives right-handed Y-up data;
// (PositiveX, PositiveY, PositiveZ) = (4, 0, 3) keeps the server's Z-up frame.
namespace Direction {
enum Enum {
  PositiveY = 0,
  NegativeY = 1,
  NegativeZ = 2,
  PositiveZ = 3,
  PositiveX = 4,
  NegativeX = 5,
};
}  // namespace Direction

namespace StreamMode {
enum Enum {
  ClientPull = 0,  // the client keeps the newest frame; GetFrame takes it
  ServerPush = 1,  // same delivery here; kept so callers can name it
};
}  // namespace StreamMode

namespace TimecodeStandard {
// Fixed underlying type: a server may send codes outside this list, and
// GetTimecode hands them on unchanged for the caller to refuse.
enum Enum : int {
  None = 0,
  PAL = 1,
  NTSC = 2,
  NTSCDrop = 3,
  Film = 4,
};
}  // namespace TimecodeStandard

struct Output_Connect {
  Result::Enum Result = Result::Unknown;
};
struct Output_IsConnected {
  bool Connected = false;
};
struct Output_Disconnect {
  Result::Enum Result = Result::Unknown;
};
struct Output_EnableSegmentData {
  Result::Enum Result = Result::Unknown;
};
struct Output_DisableSegmentData {
  Result::Enum Result = Result::Unknown;
};
struct Output_EnableMarkerData {
  Result::Enum Result = Result::Unknown;
};
struct Output_DisableMarkerData {
  Result::Enum Result = Result::Unknown;
};
struct Output_EnableUnlabeledMarkerData {
  Result::Enum Result = Result::Unknown;
};
struct Output_DisableUnlabeledMarkerData {
  Result::Enum Result = Result::Unknown;
};
struct Output_EnableDeviceData {
  Result::Enum Result = Result::Unknown;
};
struct Output_IsSegmentDataEnabled {
  bool Enabled = false;
};
struct Output_IsMarkerDataEnabled {
  bool Enabled = false;
};
struct Output_IsUnlabeledMarkerDataEnabled {
  bool Enabled = false;
};
struct Output_IsDeviceDataEnabled {
  bool Enabled = false;
};
struct Output_SetStreamMode {
  Result::Enum Result = Result::Unknown;
};
struct Output_SetAxisMapping {
  Result::Enum Result = Result::Unknown;
};
struct Output_GetAxisMapping {
  Direction::Enum XAxis = Direction::PositiveX;
  Direction::Enum YAxis = Direction::PositiveY;
  Direction::Enum ZAxis = Direction::PositiveZ;
};
struct Output_GetFrame {
  Result::Enum Result = Result::Unknown;
};
struct Output_GetFrameNumber {
  Result::Enum Result = Result::Unknown;
  unsigned int FrameNumber = 0;
};
// When the frame last taken left the server and reached this client, in
// nanoseconds of the machine's monotonic clock (comparable across processes
// on one machine only).
struct Output_GetFrameTiming {
  Result::Enum Result = Result::Unknown;
  std::int64_t ServerSendTimeNs = 0;
  std::int64_t ReceiveTimeNs = 0;
};
struct Output_GetSubjectCount {
  Result::Enum Result = Result::Unknown;
  unsigned int SubjectCount = 0;
};
struct Output_GetSubjectName {
  Result::Enum Result = Result::Unknown;
  String SubjectName;
};
struct Output_GetSegmentCount {
  Result::Enum Result = Result::Unknown;
  unsigned int SegmentCount = 0;
};
struct Output_GetSegmentName {
  Result::Enum Result = Result::Unknown;
  String SegmentName;
};
struct Output_GetSegmentParentName {
  Result::Enum Result = Result::Unknown;
  String SegmentName;  // empty for a root segment
};
struct Output_GetMarkerCount {
  Result::Enum Result = Result::Unknown;
  unsigned int MarkerCount = 0;
};
struct Output_GetMarkerName {
  Result::Enum Result = Result::Unknown;
  String MarkerName;
};
struct Output_GetSegmentLocalTranslation {
  Result::Enum Result = Result::Unknown;
  double Translation[3] = {0, 0, 0};
  bool Occluded = false;
};
struct Output_GetSegmentLocalRotationQuaternion {
  Result::Enum Result = Result::Unknown;
  double Rotation[4] = {0, 0, 0, 1};  // x, y, z, w
  bool Occluded = false;
};
struct Output_GetMarkerGlobalTranslation {
  Result::Enum Result = Result::Unknown;
  double Translation[3] = {0, 0, 0};
  bool Occluded = false;
};
struct Output_GetUnlabeledMarkerCount {
  Result::Enum Result = Result::Unknown;
  unsigned int MarkerCount = 0;
};
struct Output_GetUnlabeledMarkerGlobalTranslation {
  Result::Enum Result = Result::Unknown;
  double Translation[3] = {0, 0, 0};
};
struct Output_GetTimecode {
  Result::Enum Result = Result::Unknown;
  unsigned int Hours = 0;
  unsigned int Minutes = 0;
  unsigned int Seconds = 0;
  unsigned int Frames = 0;
  TimecodeStandard::Enum Standard = TimecodeStandard::None;
};

class ORBEL_CLIENT_API Client {
 public:
  Client();
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // "host:port" (an IPv6 host in brackets: "[::1]:801"). Tries once and
  // waits at most one second for the server's greeting; on success the
  // receive thread starts. InvalidHostName for a malformed address or a host
  // that does not resolve, ConnectionFailed when nobody answers (a refused
  // connection answers at once) or the server turns the client away (a full
  // server says so at once), ProtocolError when the peer's greeting is
  // not this protocol's, ClientAlreadyConnected while connected. Kinds asked
  // for before connecting are asked for again as part of the greeting.
  Output_Connect Connect(const String& HostName);
  // False from the moment the connection is lost: a closed or failed socket
  // is seen at once, a server silent for two seconds counts as gone.
  Output_IsConnected IsConnected() const;
  // Success when it closed a connection (also one the server had already
  // dropped), NotConnected when there was none.
  Output_Disconnect Disconnect();

  // Each asks the server for the new set of kinds and waits (at most one
  // second) for its acknowledgement: Success once acknowledged, NotConnected
  // without a connection (the wish is kept for the next Connect),
  // ConnectionFailed when the server did not answer in time.
  Output_EnableSegmentData EnableSegmentData();
  Output_EnableMarkerData EnableMarkerData();
  Output_EnableUnlabeledMarkerData EnableUnlabeledMarkerData();
  Output_EnableDeviceData EnableDeviceData();
  Output_DisableSegmentData DisableSegmentData();
  Output_DisableMarkerData DisableMarkerData();
  Output_DisableUnlabeledMarkerData DisableUnlabeledMarkerData();
  // What the server last acknowledged, not what was last asked for.
  Output_IsSegmentDataEnabled IsSegmentDataEnabled() const;
  Output_IsMarkerDataEnabled IsMarkerDataEnabled() const;
  Output_IsUnlabeledMarkerDataEnabled IsUnlabeledMarkerDataEnabled() const;
  Output_IsDeviceDataEnabled IsDeviceDataEnabled() const;

  // Success while connected, NotConnected otherwise; InvalidArgument for an
  // unknown mode.
  Output_SetStreamMode SetStreamMode(StreamMode::Enum Mode);
  // Applies at once to every later query, connected or not (the default is
  // the server's own frame, (4, 0, 3)). InvalidArgument, and no change, for
  // codes that are not a signed permutation of the axes.
  Output_SetAxisMapping SetAxisMapping(Direction::Enum XAxis, Direction::Enum YAxis,
                                       Direction::Enum ZAxis);
  Output_GetAxisMapping GetAxisMapping() const;

  // Success only when a frame newer than the one last taken has arrived;
  // NoFrame when none has, NotConnected without a connection.
  Output_GetFrame GetFrame();
  Output_GetFrameNumber GetFrameNumber() const;
  Output_GetFrameTiming GetFrameTiming() const;
  Output_GetTimecode GetTimecode() const;

  // The queries below answer NoFrame before the first frame is taken, and
  // the pose and position queries also when the frame taken does not carry
  // that kind of data (it was not enabled). Poses and positions come in the
  // axis mapping in force when they are asked for.
  Output_GetSubjectCount GetSubjectCount() const;
  Output_GetSubjectName GetSubjectName(unsigned int SubjectIndex) const;
  Output_GetSegmentCount GetSegmentCount(const String& SubjectName) const;
  Output_GetSegmentName GetSegmentName(const String& SubjectName, unsigned int SegmentIndex) const;
  Output_GetSegmentParentName GetSegmentParentName(const String& SubjectName,
                                                   const String& SegmentName) const;
  Output_GetSegmentLocalTranslation GetSegmentLocalTranslation(const String& SubjectName,
                                                               const String& SegmentName) const;
  Output_GetSegmentLocalRotationQuaternion GetSegmentLocalRotationQuaternion(
      const String& SubjectName, const String& SegmentName) const;
  Output_GetMarkerCount GetMarkerCount(const String& SubjectName) const;
  Output_GetMarkerName GetMarkerName(const String& SubjectName, unsigned int MarkerIndex) const;
  Output_GetMarkerGlobalTranslation GetMarkerGlobalTranslation(const String& SubjectName,
                                                               const String& MarkerName) const;
  Output_GetUnlabeledMarkerCount GetUnlabeledMarkerCount() const;
  Output_GetUnlabeledMarkerGlobalTranslation GetUnlabeledMarkerGlobalTranslation(
      unsigned int MarkerIndex) const;

  struct Impl;  // opaque

 private:
  friend struct ClientTestAccess;  // test-only counters, not part of this contract
  std::unique_ptr<Impl> impl_;
};

}  // namespace CPP
}  // namespace OrbelDataStreamSDK
