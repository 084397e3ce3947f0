// The stream protocol's messages and their codec. The byte layout of every
// message is documented in protocol/PROTOCOL.md; this header is its code.
//
// Framing: every message is an 8-byte header (magic "OB", type, flags 0,
// u32 body length) and a body. splitMessage() finds one message in a stream
// buffer and tells "wait for more bytes" (Incomplete) apart from "this
// connection is corrupt" (any error). The decode* functions then read one
// body; each checks every length before it reads and every count against the
// hard limits below, so no input makes them allocate without bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orbel::protocol {

inline constexpr std::uint16_t kVersion = 1;
inline constexpr std::uint8_t kMagic0 = 'O';
inline constexpr std::uint8_t kMagic1 = 'B';
inline constexpr std::size_t kHeaderBytes = 8;

// Hard limits. A peer that exceeds one is hostile or broken; the connection
// is dropped rather than trusted with memory.
inline constexpr std::uint32_t kMaxServerBodyBytes = 16u << 20;  // server to client
inline constexpr std::uint32_t kMaxClientBodyBytes = 4096;       // client to server
inline constexpr std::size_t kMaxNameBytes = 1024;
inline constexpr std::size_t kMaxTextBytes = 2048;
inline constexpr std::uint32_t kMaxSubjects = 1024;
inline constexpr std::uint32_t kMaxSegmentsTotal = 65536;  // over all subjects
inline constexpr std::uint32_t kMaxMarkersTotal = 65536;   // over all subjects
inline constexpr std::uint32_t kMaxUnlabeled = 65536;

enum class MessageType : std::uint8_t {
  ClientHello = 1,
  ServerHello = 2,
  Want = 3,
  WantAck = 4,
  Description = 5,
  Frame = 6,
  Goodbye = 7,
  Heartbeat = 8,
};

// Kinds of frame data a client can ask for; bits of Want::kinds.
namespace Kind {
inline constexpr std::uint8_t Segments = 1u << 0;
inline constexpr std::uint8_t Markers = 1u << 1;
inline constexpr std::uint8_t Unlabeled = 1u << 2;
inline constexpr std::uint8_t Device = 1u << 3;
inline constexpr std::uint8_t All = Segments | Markers | Unlabeled | Device;
}  // namespace Kind

// One value per failure class, so callers and tests can tell them apart.
enum class Error {
  None = 0,
  Incomplete,     // not an error on a stream: more bytes are needed
  BadMagic,       // the header does not start with "OB"
  BadFlags,       // header flags other than 0
  Oversized,      // body length above the limit for this direction
  UnknownType,    // a message type this version does not know
  Truncated,      // the body ends inside a field
  TrailingBytes,  // the body goes on after its last field
  LimitExceeded,  // a count or a name length above the hard limits
  BadValue,       // a field holds a value this version does not allow
};

const char* errorName(Error e);

struct ClientHello {
  std::uint16_t version = kVersion;
  std::string clientName;
};

struct ServerHello {
  std::uint16_t version = kVersion;
  double framesPerSecond = 0;
  std::string serverName;
};

// The client asks for these kinds from now on; sequence lets it match the ack.
struct Want {
  std::uint32_t sequence = 0;
  std::uint8_t kinds = 0;
};

// What the server will send from now on, answering Want number sequence.
struct WantAck {
  std::uint32_t sequence = 0;
  std::uint8_t kinds = 0;
};

struct Goodbye {
  std::string reason;
};

struct SegmentInfo {
  std::string name;
  std::string parent;  // empty for a root segment
};

struct SubjectInfo {
  std::string name;
  std::vector<SegmentInfo> segments;
  std::vector<std::string> markers;
};

struct Description {
  std::uint32_t id = 0;  // frames name the description they are laid out for
  std::vector<SubjectInfo> subjects;
};

struct SegmentSample {
  double translation[3] = {0, 0, 0};
  double rotation[4] = {0, 0, 0, 1};  // x, y, z, w
  bool occluded = false;
};

struct MarkerSample {
  double position[3] = {0, 0, 0};
  bool occluded = false;
};

struct UnlabeledSample {
  double position[3] = {0, 0, 0};
};

struct TimecodeValue {
  std::uint32_t hours = 0;
  std::uint32_t minutes = 0;
  std::uint32_t seconds = 0;
  std::uint32_t frames = 0;
  std::uint32_t standard = 0;  // served as is; the client maps unknown codes
};

// One frame, flat: the samples of every subject one after the other, with
// per-subject counts so the receiver can check them against the description.
// Decoding reuses the vectors' capacity, so a steady stream allocates nothing.
struct Frame {
  std::uint64_t number = 0;
  std::uint32_t descriptionId = 0;
  std::int64_t serverSendTimeNs = 0;  // CLOCK_MONOTONIC
  TimecodeValue timecode;
  std::uint8_t kinds = 0;                    // which sections the frame carries
  std::vector<std::uint32_t> segmentCounts;  // per subject, when kinds has Segments
  std::vector<SegmentSample> segments;
  std::vector<std::uint32_t> markerCounts;  // per subject, when kinds has Markers
  std::vector<MarkerSample> markers;
  std::vector<UnlabeledSample> unlabeled;  // when kinds has Unlabeled
};

// Encoders append one whole message (header and body) to out.
void encode(const ClientHello& m, std::vector<std::uint8_t>& out);
void encode(const ServerHello& m, std::vector<std::uint8_t>& out);
void encode(const Want& m, std::vector<std::uint8_t>& out);
void encode(const WantAck& m, std::vector<std::uint8_t>& out);
void encode(const Goodbye& m, std::vector<std::uint8_t>& out);
void encode(const Description& m, std::vector<std::uint8_t>& out);
void encodeHeartbeat(std::vector<std::uint8_t>& out);
// Writes only the sections named by kinds (a subset of frame.kinds' data);
// the per-subject counts must add up to the flat vectors' sizes.
void encode(const Frame& frame, std::uint8_t kinds, std::vector<std::uint8_t>& out);
// Rewrites the send time of a frame encode() just wrote into `encoded`, so a
// sender can stamp the time after encoding, when the bytes go out.
void restampFrameSendTime(std::vector<std::uint8_t>& encoded, std::int64_t serverSendTimeNs);

// One message found in a stream buffer.
struct MessageView {
  MessageType type = MessageType::Heartbeat;
  const std::uint8_t* body = nullptr;
  std::uint32_t bodyBytes = 0;
  std::size_t totalBytes = 0;  // header plus body: how far to advance the buffer
};

// Looks for one whole message at the start of data. Incomplete means the
// bytes so far are a valid beginning; any other error means the stream is
// corrupt. maxBodyBytes is the limit for the direction being read.
Error splitMessage(const std::uint8_t* data, std::size_t size, std::uint32_t maxBodyBytes,
                   MessageView& out);

// Body decoders. On failure they answer the error and set detail to a short
// text naming the field and the offending value (for the log or the user).
Error decode(const std::uint8_t* body, std::size_t size, ClientHello& out, std::string& detail);
Error decode(const std::uint8_t* body, std::size_t size, ServerHello& out, std::string& detail);
Error decode(const std::uint8_t* body, std::size_t size, Want& out, std::string& detail);
Error decode(const std::uint8_t* body, std::size_t size, WantAck& out, std::string& detail);
Error decode(const std::uint8_t* body, std::size_t size, Goodbye& out, std::string& detail);
Error decode(const std::uint8_t* body, std::size_t size, Description& out, std::string& detail);
Error decode(const std::uint8_t* body, std::size_t size, Frame& out, std::string& detail);
Error decodeHeartbeat(const std::uint8_t* body, std::size_t size, std::string& detail);

// Runs every stage of decoding over an arbitrary byte span as if it came
// from a peer in either direction: split, then decode each message found.
// Never fails; meant for fuzzers and robustness tests. Answers how many
// messages decoded cleanly.
std::size_t decodeAnything(const std::uint8_t* data, std::size_t size);

}  // namespace orbel::protocol
