#include "orbel/protocol/messages.h"

#include <cassert>
#include <cmath>

#include "orbel/protocol/wire.h"

namespace orbel::protocol {

namespace {

constexpr std::size_t kSegmentSampleBytes = std::size_t{7} * 8 + 1;
constexpr std::size_t kMarkerSampleBytes = std::size_t{3} * 8 + 1;
constexpr std::size_t kUnlabeledSampleBytes = std::size_t{3} * 8;

// Starts a message; answers the offset of its length field for finish().
std::size_t begin(Writer& w, MessageType type) {
  w.u8(kMagic0);
  w.u8(kMagic1);
  w.u8(static_cast<std::uint8_t>(type));
  w.u8(0);
  const std::size_t at = w.size();
  w.u32(0);
  return at;
}

void finish(Writer& w, std::size_t lengthAt) {
  const std::size_t body = w.size() - (lengthAt + 4);
  assert(body <= kMaxServerBodyBytes && "encoded a message above the protocol's limit");
  w.patchU32(lengthAt, static_cast<std::uint32_t>(body));
}

std::string quoted(const char* field, std::uint64_t value) {
  return std::string(field) + " " + std::to_string(value);
}

bool isKnownType(std::uint8_t t) {
  return t >= static_cast<std::uint8_t>(MessageType::ClientHello) &&
         t <= static_cast<std::uint8_t>(MessageType::Heartbeat);
}

// Shared body decoding state: every failure sets detail with the field name
// and the offset at which it was expected.
class BodyReader {
 public:
  BodyReader(const std::uint8_t* body, std::size_t size, std::string& detail)
      : r_(body, size), detail_(detail) {}

  template <typename T>
  bool field(bool (Reader::*read)(T&), T& v, const char* name) {
    if ((r_.*read)(v)) return true;
    return fail(Error::Truncated,
                std::string(name) + " cut off at byte " + std::to_string(r_.offset()));
  }
  bool u8(std::uint8_t& v, const char* name) { return field(&Reader::u8, v, name); }
  bool u16(std::uint16_t& v, const char* name) { return field(&Reader::u16, v, name); }
  bool u32(std::uint32_t& v, const char* name) { return field(&Reader::u32, v, name); }
  bool u64(std::uint64_t& v, const char* name) { return field(&Reader::u64, v, name); }
  bool i64(std::int64_t& v, const char* name) { return field(&Reader::i64, v, name); }
  bool f64(double& v, const char* name) { return field(&Reader::f64, v, name); }

  bool text(std::string& out, std::size_t maxBytes, const char* name) {
    switch (r_.text(out, maxBytes)) {
      case Reader::TextResult::Ok:
        return true;
      case Reader::TextResult::Truncated:
        return fail(Error::Truncated,
                    std::string(name) + " cut off at byte " + std::to_string(r_.offset()));
      case Reader::TextResult::TooLong:
        return fail(Error::LimitExceeded,
                    std::string(name) + " longer than " + std::to_string(maxBytes) + " bytes");
    }
    return false;
  }

  bool flag(bool& v, const char* name) {
    std::uint8_t raw = 0;
    if (!u8(raw, name)) return false;
    if (raw > 1) return fail(Error::BadValue, quoted(name, raw) + " is neither 0 nor 1");
    v = raw == 1;
    return true;
  }

  // A count that must stay within limit and whose items, each at least
  // minItemBytes long, must fit in what remains: checked before anything is
  // reserved for them.
  bool count(std::uint32_t& n, std::uint64_t limit, std::size_t minItemBytes, const char* name) {
    if (!u32(n, name)) return false;
    if (n > limit) {
      return fail(Error::LimitExceeded,
                  quoted(name, n) + " above the limit " + std::to_string(limit));
    }
    if (static_cast<std::uint64_t>(n) * minItemBytes > r_.remaining()) {
      return fail(Error::Truncated, quoted(name, n) + " does not fit in the " +
                                        std::to_string(r_.remaining()) + " bytes left");
    }
    return true;
  }

  Error end() {
    if (error_ != Error::None) return error_;
    if (r_.remaining() != 0) {
      fail(Error::TrailingBytes, std::to_string(r_.remaining()) + " bytes after the last field");
    }
    return error_;
  }

  bool fail(Error e, std::string text) {
    if (error_ == Error::None) {
      error_ = e;
      detail_ = std::move(text);
    }
    return false;
  }

  Error error() const { return error_; }

 private:
  Reader r_;
  std::string& detail_;
  Error error_ = Error::None;
};

bool readSegment(BodyReader& r, SegmentSample& s) {
  return r.f64(s.translation[0], "translation") && r.f64(s.translation[1], "translation") &&
         r.f64(s.translation[2], "translation") && r.f64(s.rotation[0], "rotation") &&
         r.f64(s.rotation[1], "rotation") && r.f64(s.rotation[2], "rotation") &&
         r.f64(s.rotation[3], "rotation") && r.flag(s.occluded, "segment occluded flag");
}

bool readMarker(BodyReader& r, MarkerSample& m) {
  return r.f64(m.position[0], "marker position") && r.f64(m.position[1], "marker position") &&
         r.f64(m.position[2], "marker position") && r.flag(m.occluded, "marker occluded flag");
}

}  // namespace

const char* errorName(Error e) {
  switch (e) {
    case Error::None:
      return "no error";
    case Error::Incomplete:
      return "incomplete message";
    case Error::BadMagic:
      return "bad magic";
    case Error::BadFlags:
      return "bad header flags";
    case Error::Oversized:
      return "message too large";
    case Error::UnknownType:
      return "unknown message type";
    case Error::Truncated:
      return "truncated message";
    case Error::TrailingBytes:
      return "trailing bytes";
    case Error::LimitExceeded:
      return "limit exceeded";
    case Error::BadValue:
      return "bad value";
  }
  return "unknown error";
}

void encode(const ClientHello& m, std::vector<std::uint8_t>& out) {
  Writer w(out);
  const std::size_t at = begin(w, MessageType::ClientHello);
  w.u16(m.version);
  w.text(m.clientName);
  finish(w, at);
}

void encode(const ServerHello& m, std::vector<std::uint8_t>& out) {
  Writer w(out);
  const std::size_t at = begin(w, MessageType::ServerHello);
  w.u16(m.version);
  w.f64(m.framesPerSecond);
  w.text(m.serverName);
  finish(w, at);
}

void encode(const Want& m, std::vector<std::uint8_t>& out) {
  Writer w(out);
  const std::size_t at = begin(w, MessageType::Want);
  w.u32(m.sequence);
  w.u8(m.kinds);
  finish(w, at);
}

void encode(const WantAck& m, std::vector<std::uint8_t>& out) {
  Writer w(out);
  const std::size_t at = begin(w, MessageType::WantAck);
  w.u32(m.sequence);
  w.u8(m.kinds);
  finish(w, at);
}

void encode(const Goodbye& m, std::vector<std::uint8_t>& out) {
  Writer w(out);
  const std::size_t at = begin(w, MessageType::Goodbye);
  // A reason is for people; cut it rather than refuse to say goodbye.
  w.text(m.reason.size() > kMaxTextBytes ? m.reason.substr(0, kMaxTextBytes) : m.reason);
  finish(w, at);
}

void encodeHeartbeat(std::vector<std::uint8_t>& out) {
  Writer w(out);
  finish(w, begin(w, MessageType::Heartbeat));
}

void encode(const Description& m, std::vector<std::uint8_t>& out) {
  assert(m.subjects.size() <= kMaxSubjects && "too many subjects for the protocol");
  Writer w(out);
  const std::size_t at = begin(w, MessageType::Description);
  w.u32(m.id);
  w.u32(static_cast<std::uint32_t>(m.subjects.size()));
  for (const SubjectInfo& s : m.subjects) {
    w.text(s.name);
    w.u32(static_cast<std::uint32_t>(s.segments.size()));
    for (const SegmentInfo& seg : s.segments) {
      w.text(seg.name);
      w.text(seg.parent);
    }
    w.u32(static_cast<std::uint32_t>(s.markers.size()));
    for (const std::string& marker : s.markers) w.text(marker);
  }
  finish(w, at);
}

void restampFrameSendTime(std::vector<std::uint8_t>& encoded, std::int64_t serverSendTimeNs) {
  // The body starts with the frame number (8 bytes) and description id (4).
  constexpr std::size_t at = kHeaderBytes + 8 + 4;
  assert(encoded.size() >= at + 8 && encoded[2] == static_cast<std::uint8_t>(MessageType::Frame) &&
         "restamped bytes that are not an encoded frame");
  auto v = static_cast<std::uint64_t>(serverSendTimeNs);
  for (std::size_t b = 0; b < 8; ++b, v >>= 8) encoded[at + b] = static_cast<std::uint8_t>(v);
}

void encode(const Frame& f, std::uint8_t kinds, std::vector<std::uint8_t>& out) {
  Writer w(out);
  const std::size_t at = begin(w, MessageType::Frame);
  w.u64(f.number);
  w.u32(f.descriptionId);
  w.i64(f.serverSendTimeNs);
  w.u32(f.timecode.hours);
  w.u32(f.timecode.minutes);
  w.u32(f.timecode.seconds);
  w.u32(f.timecode.frames);
  w.u32(f.timecode.standard);
  w.u8(kinds);
  if (kinds & Kind::Segments) {
    w.u32(static_cast<std::uint32_t>(f.segmentCounts.size()));
    std::size_t next = 0;
    for (std::uint32_t count : f.segmentCounts) {
      w.u32(count);
      assert(next + count <= f.segments.size() && "segment counts exceed the samples");
      for (std::uint32_t k = 0; k < count; ++k, ++next) {
        const SegmentSample& s = f.segments[next];
        for (double v : s.translation) w.f64(v);
        for (double v : s.rotation) w.f64(v);
        w.u8(s.occluded ? 1 : 0);
      }
    }
  }
  if (kinds & Kind::Markers) {
    w.u32(static_cast<std::uint32_t>(f.markerCounts.size()));
    std::size_t next = 0;
    for (std::uint32_t count : f.markerCounts) {
      w.u32(count);
      assert(next + count <= f.markers.size() && "marker counts exceed the samples");
      for (std::uint32_t k = 0; k < count; ++k, ++next) {
        const MarkerSample& m = f.markers[next];
        for (double v : m.position) w.f64(v);
        w.u8(m.occluded ? 1 : 0);
      }
    }
  }
  if (kinds & Kind::Unlabeled) {
    w.u32(static_cast<std::uint32_t>(f.unlabeled.size()));
    for (const UnlabeledSample& u : f.unlabeled) {
      for (double v : u.position) w.f64(v);
    }
  }
  finish(w, at);
}

Error splitMessage(const std::uint8_t* data, std::size_t size, std::uint32_t maxBodyBytes,
                   MessageView& out) {
  // Judge each header byte as soon as it is there, so garbage is refused
  // without waiting for a length that may never come.
  if (size >= 1 && data[0] != kMagic0) return Error::BadMagic;
  if (size >= 2 && data[1] != kMagic1) return Error::BadMagic;
  if (size >= 3 && !isKnownType(data[2])) return Error::UnknownType;
  if (size >= 4 && data[3] != 0) return Error::BadFlags;
  Reader r(data, size);
  std::uint32_t bodyBytes = 0;
  std::uint8_t skip = 0;
  for (int i = 0; i < 4; ++i) r.u8(skip);
  if (!r.u32(bodyBytes)) return Error::Incomplete;
  if (bodyBytes > maxBodyBytes) return Error::Oversized;
  if (r.remaining() < bodyBytes) return Error::Incomplete;
  out.type = static_cast<MessageType>(data[2]);
  out.body = data + kHeaderBytes;
  out.bodyBytes = bodyBytes;
  out.totalBytes = kHeaderBytes + bodyBytes;
  return Error::None;
}

Error decode(const std::uint8_t* body, std::size_t size, ClientHello& out, std::string& detail) {
  BodyReader r(body, size, detail);
  r.u16(out.version, "version") && r.text(out.clientName, kMaxNameBytes, "client name");
  return r.end();
}

Error decode(const std::uint8_t* body, std::size_t size, ServerHello& out, std::string& detail) {
  BodyReader r(body, size, detail);
  if (r.u16(out.version, "version") && r.f64(out.framesPerSecond, "frame rate") &&
      r.text(out.serverName, kMaxNameBytes, "server name")) {
    if (!std::isfinite(out.framesPerSecond) || out.framesPerSecond < 0) {
      r.fail(Error::BadValue, "frame rate is not a finite, non-negative number");
    }
  }
  return r.end();
}

namespace {
template <typename M>
Error decodeKinds(const std::uint8_t* body, std::size_t size, M& out, std::string& detail) {
  BodyReader r(body, size, detail);
  if (r.u32(out.sequence, "sequence") && r.u8(out.kinds, "kinds")) {
    if (out.kinds & ~Kind::All)
      r.fail(Error::BadValue, quoted("kinds", out.kinds) + " has unknown bits");
  }
  return r.end();
}
}  // namespace

Error decode(const std::uint8_t* body, std::size_t size, Want& out, std::string& detail) {
  return decodeKinds(body, size, out, detail);
}

Error decode(const std::uint8_t* body, std::size_t size, WantAck& out, std::string& detail) {
  return decodeKinds(body, size, out, detail);
}

Error decode(const std::uint8_t* body, std::size_t size, Goodbye& out, std::string& detail) {
  BodyReader r(body, size, detail);
  r.text(out.reason, kMaxTextBytes, "reason");
  return r.end();
}

Error decodeHeartbeat(const std::uint8_t* body, std::size_t size, std::string& detail) {
  BodyReader r(body, size, detail);
  return r.end();
}

Error decode(const std::uint8_t* body, std::size_t size, Description& out, std::string& detail) {
  BodyReader r(body, size, detail);
  out.subjects.clear();
  std::uint32_t subjects = 0;
  if (!r.u32(out.id, "description id") ||
      !r.count(subjects, kMaxSubjects, 2 + 4 + 4, "subject count")) {
    return r.end();
  }
  out.subjects.resize(subjects);
  std::uint64_t segmentsTotal = 0;
  std::uint64_t markersTotal = 0;
  for (SubjectInfo& s : out.subjects) {
    std::uint32_t segments = 0;
    if (!r.text(s.name, kMaxNameBytes, "subject name") ||
        !r.count(segments, kMaxSegmentsTotal - segmentsTotal, 2 + 2, "segment count")) {
      return r.end();
    }
    segmentsTotal += segments;
    s.segments.resize(segments);
    for (SegmentInfo& seg : s.segments) {
      if (!r.text(seg.name, kMaxNameBytes, "segment name") ||
          !r.text(seg.parent, kMaxNameBytes, "segment parent name")) {
        return r.end();
      }
    }
    std::uint32_t markers = 0;
    if (!r.count(markers, kMaxMarkersTotal - markersTotal, 2, "marker count")) return r.end();
    markersTotal += markers;
    s.markers.resize(markers);
    for (std::string& m : s.markers) {
      if (!r.text(m, kMaxNameBytes, "marker name")) return r.end();
    }
  }
  return r.end();
}

Error decode(const std::uint8_t* body, std::size_t size, Frame& out, std::string& detail) {
  BodyReader r(body, size, detail);
  TimecodeValue& tc = out.timecode;
  if (!r.u64(out.number, "frame number") || !r.u32(out.descriptionId, "description id") ||
      !r.i64(out.serverSendTimeNs, "send time") || !r.u32(tc.hours, "timecode hours") ||
      !r.u32(tc.minutes, "timecode minutes") || !r.u32(tc.seconds, "timecode seconds") ||
      !r.u32(tc.frames, "timecode frames") || !r.u32(tc.standard, "timecode standard") ||
      !r.u8(out.kinds, "kinds")) {
    return r.end();
  }
  if (out.kinds & ~Kind::All) {
    r.fail(Error::BadValue, quoted("kinds", out.kinds) + " has unknown bits");
    return r.end();
  }
  out.segmentCounts.clear();
  out.segments.clear();
  out.markerCounts.clear();
  out.markers.clear();
  out.unlabeled.clear();
  if (out.kinds & Kind::Segments) {
    std::uint32_t subjects = 0;
    if (!r.count(subjects, kMaxSubjects, 4, "segment subject count")) return r.end();
    std::uint64_t total = 0;
    for (std::uint32_t s = 0; s < subjects; ++s) {
      std::uint32_t n = 0;
      if (!r.count(n, kMaxSegmentsTotal - total, kSegmentSampleBytes, "segment count")) {
        return r.end();
      }
      out.segmentCounts.push_back(n);
      const std::size_t first = out.segments.size();
      out.segments.resize(first + n);
      for (std::uint32_t k = 0; k < n; ++k) {
        if (!readSegment(r, out.segments[first + k])) return r.end();
      }
      total += n;
    }
  }
  if (out.kinds & Kind::Markers) {
    std::uint32_t subjects = 0;
    if (!r.count(subjects, kMaxSubjects, 4, "marker subject count")) return r.end();
    std::uint64_t total = 0;
    for (std::uint32_t s = 0; s < subjects; ++s) {
      std::uint32_t n = 0;
      if (!r.count(n, kMaxMarkersTotal - total, kMarkerSampleBytes, "marker count")) {
        return r.end();
      }
      out.markerCounts.push_back(n);
      const std::size_t first = out.markers.size();
      out.markers.resize(first + n);
      for (std::uint32_t k = 0; k < n; ++k) {
        if (!readMarker(r, out.markers[first + k])) return r.end();
      }
      total += n;
    }
  }
  if (out.kinds & Kind::Unlabeled) {
    std::uint32_t n = 0;
    if (!r.count(n, kMaxUnlabeled, kUnlabeledSampleBytes, "unlabeled marker count")) {
      return r.end();
    }
    out.unlabeled.resize(n);
    for (UnlabeledSample& u : out.unlabeled) {
      if (!r.f64(u.position[0], "unlabeled position") ||
          !r.f64(u.position[1], "unlabeled position") ||
          !r.f64(u.position[2], "unlabeled position")) {
        return r.end();
      }
    }
  }
  return r.end();
}

std::size_t decodeAnything(const std::uint8_t* data, std::size_t size) {
  std::size_t clean = 0;
  std::string detail;
  ClientHello clientHello;
  ServerHello serverHello;
  Want want;
  WantAck ack;
  Goodbye goodbye;
  Description description;
  Frame frame;
  while (size > 0) {
    MessageView m;
    if (splitMessage(data, size, kMaxServerBodyBytes, m) != Error::None) break;
    Error e = Error::None;
    switch (m.type) {
      case MessageType::ClientHello:
        e = decode(m.body, m.bodyBytes, clientHello, detail);
        break;
      case MessageType::ServerHello:
        e = decode(m.body, m.bodyBytes, serverHello, detail);
        break;
      case MessageType::Want:
        e = decode(m.body, m.bodyBytes, want, detail);
        break;
      case MessageType::WantAck:
        e = decode(m.body, m.bodyBytes, ack, detail);
        break;
      case MessageType::Description:
        e = decode(m.body, m.bodyBytes, description, detail);
        break;
      case MessageType::Frame:
        e = decode(m.body, m.bodyBytes, frame, detail);
        break;
      case MessageType::Goodbye:
        e = decode(m.body, m.bodyBytes, goodbye, detail);
        break;
      case MessageType::Heartbeat:
        e = decodeHeartbeat(m.body, m.bodyBytes, detail);
        break;
    }
    if (e == Error::None) ++clean;
    data += m.totalBytes;
    size -= m.totalBytes;
  }
  return clean;
}

}  // namespace orbel::protocol
